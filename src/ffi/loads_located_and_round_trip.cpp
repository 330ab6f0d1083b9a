#include "ffi/loads_located_and_round_trip.hpp"

#include <string>
#include <utility>

#include "decode/decoder.hpp"
#include "decode/load_settings.hpp"
#include "ffi/args.hpp"
#include "ffi/convert/annotate.hpp"
#include "ffi/convert/node_bridge.hpp"
#include "ffi/document_checks.hpp"
#include "ffi/errors.hpp"
#include "ffi/input.hpp"
#include "ffi/types/document.hpp"
#include "roundtrip/compose/checked_compose.hpp"
#include "roundtrip/compose/composer.hpp"
#include "roundtrip/document/document.hpp"
#include "roundtrip/document/document_checks.hpp"
#include "roundtrip/tree/node_list.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

// The plain decoder over the top-level text with the lock released.  An
// error names `file` (the caller's root_path) when there is one.
PyStatus plain_check_pass(std::string_view text, const LoadSettings& settings,
                          const std::optional<std::string>& file = std::nullopt) {
  auto error = without_gil([&] { return check_stream(text, check_pass_options(settings)); });
  if (error) return fail(decoder_error_to_py(*error, file));
  return {};
}

// The text work of a load without include options, done with the lock
// released (composing reads only the call's text, which stays valid and
// unchanged without the lock: a mutable buffer was copied when the text was
// made).  The caller then reports what it found in the order the steps ran,
// so what Python sees (warnings logged, the exception raised) is what the
// same steps run with the lock held would give.
CheckedCompose compose_off_lock(std::string_view text, const LoadSettings& settings, bool check_pass) {
  const std::optional<DecodeOptions> check =
      check_pass ? std::optional<DecodeOptions>(check_pass_options(settings)) : std::nullopt;
  return without_gil([&] { return checked_compose(text, check, /*empty_document_as_null=*/true); });
}

// The bytes of text the trees were read from: the call's text and every
// included file.
std::size_t loaded_text_size(const LoadedTrees& trees, std::string_view text) noexcept {
  std::size_t size = text.size();
  for (const auto& source : trees.source_texts) size += source ? source->size() : 0;
  return size;
}

// The same pass over every text of the source-file table, with the lock
// released (the texts are the load's own); an error names the file.
PyStatus plain_check_sources(const LoadedTrees& trees, const LoadSettings& settings) {
  const auto failed = without_gil([&] { return check_source_texts(trees.source_texts, check_pass_options(settings)); });
  if (!failed) return {};
  std::optional<std::string_view> name;
  if (failed->index < trees.source_names.size()) name = trees.source_names[failed->index];
  return fail(decoder_error_to_py(failed->error, name));
}

// The trees of the call: expanded by the include hook under an include
// option, else composed from the text alone.  A document opened by "---"
// without content gives a Null root, so that "the first document" means
// the same as on the plain road and a round-trip document keeps it.
PyResult<LoadedTrees> load_trees(LoadsCall& call, bool check_pass = false) {
  const LoadSettings& settings = call.settings;
  if (settings.any_include_flag()) {
    if (check_pass) KESTRINE_TRY(plain_check_pass(call.text->text(), settings, call.root_path));
    return loads_include_trees(call);
  }
  CheckedCompose load = compose_off_lock(call.text->text(), settings, check_pass);
  if (load.check_error) return fail(decoder_error_to_py(*load.check_error, call.root_path));
  if (load.compose_error) return fail(compose_error_to_py(*load.compose_error));
  LoadedTrees trees;
  trees.roots = std::move(load.composed.roots);
  trees.aliases = load.composed.aliases;
  return trees;
}

// Validates what the road returns: the first document on the located road,
// every document of a round-trip document, each read as the road reads it
// (keys keep the custom tags `key_tags` keeps; null: none, as a round-trip
// document's conversions apply no tag handler).
PyStatus validate(const LoadedTrees& trees, PyObject* schema, const LoadSettings& settings,
                  const KeyTags* key_tags) {
  if (schema == nullptr || trees.roots.empty()) return {};
  KeyReading reading = converted_key_reading(settings);
  reading.tags = key_tags;
  return loads_validate_roots(trees.roots, schema, reading,
                              /*every_document=*/settings.road == LoadRoad::RoundTrip, trees.source_names);
}

// Trees without an alias bind nothing: the walk over them is skipped.
PyResult<AnchorBindings> bind_all(std::span<const YamlNode> roots, bool aliases = true,
                                  std::span<const std::string> file_names = {}) {
  if (!aliases) return AnchorBindings();
  auto bindings = bind_anchors(roots);
  if (!bindings) {
    return fail(compose_error_to_py(bindings.error(), included_file_name(file_names, bindings.error().span.file_id)));
  }
  return std::move(*bindings);
}

}  // namespace

// ---------------------------------------------------------------------------
// loads: located road

PyResult<OwnedRef> loads_located_road(LoadsCall& call) {
  const LoadSettings& settings = call.settings;
  const bool check_pass = settings.plain_check_pass;

  KESTRINE_ASSIGN_OR_RETURN(LoadedTrees trees, load_trees(call, check_pass));

  if (!settings.any_include_flag() && call.root_path) {
    trees.source_names.push_back(*call.root_path);
    trees.source_texts.emplace_back();
  }
  if (check_pass) KESTRINE_TRY(plain_check_sources(trees, settings));
  if (trees.roots.empty()) return none_ref();

  KESTRINE_TRY(check_documents(trees.roots, located_checks(settings, &call.key_tags), trees.source_names));
  KESTRINE_TRY(validate(trees, call.schema.get(), settings, &call.key_tags));

  PyResult<OwnedRef> result = [&]() -> PyResult<OwnedRef> {
    KESTRINE_ASSIGN_OR_RETURN(const AnchorBindings bindings,
                              bind_all(trees.roots, trees.aliases, trees.source_names));
    YamlNode& first = trees.roots.front();
    const DuplicateKeyCheck duplicates{plain_decode_options(settings).duplicate_keys, &call.key_tags, {}};
    if (settings.annotated) {
      return tree_to_annotated(first, trees.source_names, settings.version_mode, call.handlers, bindings,
                               settings.annotate_numbers, duplicates);
    }
    return tree_to_py(first, settings.version_mode, call.handlers, bindings, duplicates, trees.source_names);
  }();
  const KeepReleasedChunks keep;  // what the conversion left goes whole: its memory serves the next load
  drop_native(trees.roots, loaded_text_size(trees, call.text->text()));
  return result;
}

// ---------------------------------------------------------------------------
// loads: round-trip road

PyResult<OwnedRef> loads_round_trip_road(LoadsCall& call) {
  const LoadSettings& settings = call.settings;
  KESTRINE_TRY(check_null_style_options(settings.option));

  const DocumentChecks checks = round_trip_checks(settings);
  LoadedTrees trees;
  if (settings.any_include_flag()) {
    KESTRINE_ASSIGN_OR_RETURN(trees, loads_include_trees(call));
    KESTRINE_TRY(check_documents(trees.roots, checks, trees.source_names));
  } else {
    // Composed and checked off the lock; reported in the same order.
    std::optional<ComposeError> compose_error;
    DocumentCheckFindings findings;
    without_gil([&] {
      auto composed = compose_text(call.text->text(), 0, /*empty_document_as_null=*/true);
      if (!composed) {
        compose_error = std::move(composed.error());
        return;
      }
      trees.roots = std::move(composed->roots);
      findings = run_document_checks(trees.roots, checks);
    });
    if (compose_error) return fail(compose_error_to_py(*compose_error));
    KESTRINE_TRY(report_document_checks(findings));
  }
  KESTRINE_TRY(validate(trees, call.schema.get(), settings, nullptr));

  DocumentRecord record;
  record.roots = std::move(trees.roots);
  record.source_names = std::move(trees.source_names);
  record.source_texts = std::move(trees.source_texts);
  record.include_root = std::move(trees.include_root);
  record.source_text.emplace(call.text->text());
  record.source_facts = text_facts(std::string_view(*record.source_text));
  record.flags = document_flags(settings, settings.version_mode);
  record.edit_marks = !settings.upgrade;  // only the 1.1 upgrade edits while loading
  return new_document(std::move(record));
}

// ---------------------------------------------------------------------------
// loads_all: annotated road

PyResult<OwnedRef> loads_all_annotated_road(LoadsAllCall& call) {
  const LoadSettings& settings = call.settings;
  const std::string_view text = call.text->text();
  CheckedCompose load = compose_off_lock(text, settings, settings.plain_check_pass);
  if (load.check_error) return fail(decoder_error_to_py(*load.check_error));
  if (load.compose_error) return fail(compose_error_to_py(*load.compose_error));
  KESTRINE_TRY(check_documents(load.composed.roots, located_checks(settings, &call.key_tags)));

  // The list too is made with the collector paused, as the plain road's is:
  // made before the pause, it set off a collection per call.
  const DuplicateKeyCheck duplicates{plain_decode_options(settings).duplicate_keys, &call.key_tags, {}};
  std::vector<std::string> warnings;  // logged once the collector runs again
  PyResult<OwnedRef> result = [&]() -> PyResult<OwnedRef> {
    GcPause pause(annotated_conversion_pauses_gc(call.handlers, settings.annotate_numbers));
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef list, checked(PyList_New(0)));
    for (YamlNode& root : load.composed.roots) {
      KESTRINE_ASSIGN_OR_RETURN(const AnchorBindings bindings,
                                bind_all(std::span<const YamlNode>(&root, 1), load.composed.aliases));
      AnchorObjectCache cache;
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef obj,
                                tree_to_annotated_step(root, {}, settings.version_mode, call.handlers, bindings,
                                                       settings.annotate_numbers, cache, duplicates, &warnings));
      KESTRINE_TRY(checked_status(PyList_Append(list.get(), obj.get())));
    }
    return list;
  }();
  log_warnings(warnings);
  const KeepReleasedChunks keep;  // as on the located road
  drop_native(load.composed.roots, text.size());
  return result;
}

// ---------------------------------------------------------------------------
// loads_all: round-trip road

PyResult<OwnedRef> loads_all_round_trip_road(LoadsAllCall& call) {
  const LoadSettings& settings = call.settings;
  const std::string_view text = call.text->text();

  // Composed and every document checked off the lock; each document's
  // findings are then reported before it is made, as if checked in turn.
  std::optional<ComposeError> compose_error;
  ComposedStream composed;
  std::vector<StreamDocument> documents;
  without_gil([&] {
    auto stream = compose_text(text, 0, /*empty_document_as_null=*/true);
    if (!stream) {
      compose_error = std::move(stream.error());
      return;
    }
    composed = std::move(*stream);
    documents = check_stream_documents(composed.roots, text, composed.document_starts, settings);
  });
  if (compose_error) return fail(compose_error_to_py(*compose_error));

  KESTRINE_ASSIGN_OR_RETURN(OwnedRef list, checked(PyList_New(0)));
  for (std::size_t i = 0; i < documents.size(); ++i) {
    KESTRINE_TRY(report_document_checks(documents[i].findings));
    KESTRINE_TRY(check_null_style_options(settings.option));

    DocumentRecord record;
    record.roots.push_back(std::move(composed.roots[i]));
    record.source_text.emplace(documents[i].text);
    record.source_facts = text_facts(documents[i].text);
    record.source_offset = static_cast<std::size_t>(documents[i].text.data() - text.data());
    record.flags = document_flags(settings, documents[i].mode);
    record.edit_marks = !settings.upgrade;
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef document, new_document(std::move(record)));
    KESTRINE_TRY(checked_status(PyList_Append(list.get(), document.get())));
  }
  return list;
}

}  // namespace kestrine
