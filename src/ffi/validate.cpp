#include "ffi/validate.hpp"

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "ffi/errors.hpp"
#include "ffi/functions.hpp"
#include "ffi/input.hpp"
#include "ffi/loads_located_and_round_trip.hpp"
#include "ffi/schema_cache.hpp"
#include "roundtrip/compose/composer.hpp"
#include "roundtrip/document/document_checks.hpp"
#include "schema/modeline.hpp"
#include "schema/validate.hpp"
#include "util/try.hpp"

namespace kestrine {

namespace {

PyStatus raise_first(const std::optional<ValidationError>& error, std::span<const std::string> file_names = {}) {
  if (!error) return {};
  return fail(schema_error_to_py(error->message, error->schema_path, error->span, nullptr,
                                 included_file_name(file_names, error->span.file_id)));
}

}  // namespace

PyStatus validate_document(std::span<const YamlNode> roots, PyObject* schema, KeyReading reading,
                           bool every_document, std::span<const std::string> file_names) {
  if (schema == nullptr || roots.empty()) return {};
  KESTRINE_ASSIGN_OR_RETURN(auto compiled, prepare_schema(schema));
  for (const YamlNode& root : every_document ? roots : roots.first(1))
    KESTRINE_TRY(raise_first(validate_root(root, compiled->compiled(), reading), file_names));
  return {};
}

PyStatus validate_with_positions(std::string_view text, const YamlValue& first, PyObject* schema,
                                 const LoadSettings& settings, const KeyTags* key_tags) {
  KeyReading reading = converted_key_reading(settings);
  reading.tags = key_tags;
  std::shared_ptr<const PreparedSchema> compiled;
  // The decoded tree reads like the composed one when nothing was expanded,
  // folded or tagged: the decoder resolved its scalars as validation reads
  // them, and a timestamp it made leaves the verdict undecided.
  if (value_tree_reads_like_nodes(text)) {
    KESTRINE_ASSIGN_OR_RETURN(compiled, prepare_schema(schema));
    if (check_value_tree(first, compiled->compiled()) == ValueVerdict::Valid) return {};
  }
  // A document opened by "---" without content is the null document that
  // loads returns, so it is the one validated.
  auto composed = compose_text(text, 0, /*empty_document_as_null=*/true);
  if (!composed) return fail(compose_error_to_py(composed.error()));
  if (composed->roots.empty()) return {};
  if (!compiled) {
    KESTRINE_ASSIGN_OR_RETURN(compiled, prepare_schema(schema));
  }
  return raise_first(validate_root(composed->roots.front(), compiled->compiled(), reading));
}

// ---- hooks of the load roads ---------------------------------------------------

PyStatus loads_validate_roots(std::span<const YamlNode> roots, PyObject* schema, KeyReading reading,
                              bool every_document, std::span<const std::string> file_names) {
  return validate_document(roots, schema, reading, every_document, file_names);
}

PyStatus loads_validate_plain(std::string_view text, const YamlValue& first, PyObject* schema,
                              const LoadSettings& settings, const KeyTags& key_tags) {
  return validate_with_positions(text, first, schema, settings, &key_tags);
}

PyResult<std::optional<std::string>> loads_find_schema_reference(std::string_view text) {
  return find_schema_modeline(text);
}

// ---------------------------------------------------------------------------
// schema_ref(data, /)

KESTRINE_FUNCTION_BODY(schema_ref_body) {
  (void)module;
  PyObject* a[1];
  KESTRINE_TRY(parse_fastcall(kSchemaRefArgs, args, nargs, kwnames, a));
  KESTRINE_ASSIGN_OR_RETURN(const InputText text, input_to_text(a[0]));
  const std::optional<std::string> reference = find_schema_modeline(text.text());
  if (!reference) return none_ref();
  return new_str(*reference);
}

}  // namespace kestrine
