#include "ffi/loads_located_and_round_trip.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "decode/decoder.hpp"
#include "ffi/args.hpp"
#include "ffi/convert/annotate.hpp"
#include "ffi/convert/node_bridge.hpp"
#include "ffi/document_checks.hpp"
#include "ffi/errors.hpp"
#include "ffi/input.hpp"
#include "ffi/types/document.hpp"
#include "roundtrip/compose/composer.hpp"
#include "roundtrip/document/upgrade.hpp"
#include "roundtrip/tree/duplicates.hpp"
#include "roundtrip/tree/node_list.hpp"
#include "util/options.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

// The plain decoder's options for the pass that only tests a text: nothing
// but the complex-key policy, no warnings, no timestamps.
DecodeOptions check_pass_options(const LoadSettings& settings) noexcept {
  DecodeOptions options;
  options.version_mode = settings.version_mode;
  options.reject_complex_keys = settings.reject_complex;
  return options;
}

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
// made).  Each step runs only when the ones before it succeeded; the caller
// then reports the findings in the order the steps ran, so what Python sees
// (warnings logged, the exception raised) is what the same steps run with
// the lock held would give.
struct OffLockLoad {
  std::optional<DecoderError> check_error;  // the plain decoder's verdict, when asked
  std::optional<ComposeError> compose_error;
  ComposedStream composed;
};

// The plain decoder and the composer read the same events: the text is
// scanned once (comments kept for the composer), and the decoder's verdict
// comes first.
OffLockLoad checked_compose(std::string_view text, const LoadSettings& settings, bool empty_document_as_null) {
  OffLockLoad load;
  Scanner scanner = new_scanner(text);
  scanner.keep_comments = true;
  auto scanned = scan_events(scanner);
  if (!scanned) {  // reported as the plain decoder reports a scan error
    load.check_error = DecoderError{std::move(scanned.error().message), scanned.error().span, DecoderErrorKind::Parse};
    return load;
  }
  load.check_error = check_events(*scanned, text.size(), check_pass_options(settings));
  if (load.check_error) return load;
  auto composed = compose_scanned(text, *scanned, scanner.comments, scanner.leading_bom, empty_document_as_null);
  if (composed) {
    load.composed = std::move(*composed);
  } else {
    load.compose_error = std::move(composed.error());
  }
  return load;
}

OffLockLoad compose_off_lock(std::string_view text, const LoadSettings* check_with, bool empty_document_as_null) {
  return without_gil([&] {
    if (check_with != nullptr) return checked_compose(text, *check_with, empty_document_as_null);
    OffLockLoad load;
    auto composed = compose_text(text, 0, empty_document_as_null);
    if (composed) {
      load.composed = std::move(*composed);
    } else {
      load.compose_error = std::move(composed.error());
    }
    return load;
  });
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
  const DecodeOptions options = check_pass_options(settings);
  std::size_t failed = 0;  // the text that failed
  const std::optional<DecoderError> error = without_gil([&]() -> std::optional<DecoderError> {
    for (; failed < trees.source_texts.size(); ++failed) {
      const auto& source = trees.source_texts[failed];
      if (!source) continue;
      if (auto found = check_stream(*source, options)) return found;
    }
    return std::nullopt;
  });
  if (!error) return {};
  std::optional<std::string_view> name;
  if (failed < trees.source_names.size()) name = trees.source_names[failed];
  return fail(decoder_error_to_py(*error, name));
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
  OffLockLoad load = compose_off_lock(call.text->text(), check_pass ? &settings : nullptr,
                                      /*empty_document_as_null=*/true);
  if (load.check_error) return fail(decoder_error_to_py(*load.check_error, call.root_path));
  if (load.compose_error) return fail(compose_error_to_py(*load.compose_error));
  LoadedTrees trees;
  trees.roots = std::move(load.composed.roots);
  trees.aliases = load.composed.aliases;
  return trees;
}

// The duplicate-key policy of the located roads: error (first duplicate over
// the roots in order) or warnings.  Keys compare as the tree conversion
// reads them: timestamps only under PyyamlCompat.
PyStatus located_duplicate_keys(std::span<const YamlNode> roots, const LoadSettings& settings,
                                std::span<const std::string> file_names = {}) {
  const KeyReading reading(settings.version_mode, settings.version_mode == VersionMode::PyyamlCompat);
  if (settings.dup_error) {
    if (auto error = check_duplicate_keys_roots(roots, reading))
      return fail(duplicate_key_error_to_py(*error, included_file_name(file_names, error->span.file_id)));
  } else if (settings.dup_warn_only) {
    log_warnings(warn_duplicate_keys(roots, reading));
  }
  return {};
}

// Validates what the road returns: the first document on the located road,
// every document of a round-trip document, each read with the keys of the
// road's conversion.
PyStatus validate(const LoadedTrees& trees, PyObject* schema, const LoadSettings& settings, bool round_trip) {
  if (schema == nullptr || trees.roots.empty()) return {};
  const bool yaml11 = settings.is_yaml11 || (settings.option & OPT_PYYAML_COMPAT) != 0;
  KeyReading reading(settings.version_mode, settings.version_mode == VersionMode::PyyamlCompat);
  if (round_trip) {
    const DocumentFlags flags = document_flags(settings, settings.version_mode);
    reading = KeyReading(flags.version_mode, flags.timestamps);
  }
  return loads_validate_roots(trees.roots, schema, yaml11, reading, round_trip, trees.source_names);
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

// The version mode of one document of a loads_all stream: its own %YAML
// directive, else the options alone (a directive of the first document does
// not carry over to the next).
VersionMode document_mode(std::string_view document_text, Options option) noexcept {
  if (option & OPT_PYYAML_COMPAT) return VersionMode::PyyamlCompat;
  if (const auto version = sniff_yaml_version(document_text))
    return version->major == 1 && version->minor == 1 ? VersionMode::Yaml11 : VersionMode::Yaml12;
  return (option & (OPT_YAML_1_1 | OPT_UPGRADE_1_1)) != 0 ? VersionMode::Yaml11 : VersionMode::Yaml12;
}

}  // namespace

// ---------------------------------------------------------------------------
// Shared helpers

DocumentFlags document_flags(const LoadSettings& settings, VersionMode mode) noexcept {
  DocumentFlags flags;
  flags.prefer_double_quotes = (settings.option & OPT_SINGLE_QUOTES) == 0;
  flags.upgrade_1_1 = settings.upgrade;
  flags.timestamps = settings.timestamps;
  flags.null_style = (settings.option & OPT_NULL_AS_KEYWORD) ? NullStyle::Keyword
                     : (settings.option & OPT_NULL_AS_TILDE) ? NullStyle::Tilde
                                                             : NullStyle::Default;
  flags.version_mode = settings.upgrade ? VersionMode::Yaml12 : mode;
  return flags;
}

std::vector<std::string_view> document_slices(std::string_view text, std::span<const std::size_t> starts) {
  std::vector<std::string_view> slices;
  slices.reserve(starts.size());
  std::size_t begin = 0;  // the first document always begins the text
  for (std::size_t i = 0; i < starts.size(); ++i) {
    std::size_t end = i + 1 < starts.size() ? std::clamp(starts[i + 1], begin, text.size()) : text.size();
    slices.push_back(text.substr(begin, end - begin));
    begin = end;
  }
  return slices;
}

// ---------------------------------------------------------------------------
// loads: located road

PyResult<OwnedRef> loads_located_road(LoadsCall& call) {
  const LoadSettings& settings = call.settings;
  const bool annotated = (settings.option & OPT_ANNOTATED) != 0;
  const bool check_pass = annotated || settings.reject_complex;

  KESTRINE_ASSIGN_OR_RETURN(LoadedTrees trees, load_trees(call, check_pass));

  if (!settings.any_include_flag() && call.root_path) {
    trees.source_names.push_back(*call.root_path);
    trees.source_texts.emplace_back();
  }
  if (check_pass) KESTRINE_TRY(plain_check_sources(trees, settings));
  if (trees.roots.empty()) return none_ref();

  KESTRINE_TRY(located_duplicate_keys(trees.roots, settings, trees.source_names));
  if (settings.yaml11_warn) log_warnings(collect_version_warnings(trees.roots, settings.version_mode));
  KESTRINE_TRY(validate(trees, call.schema.get(), settings, /*round_trip=*/false));

  PyResult<OwnedRef> result = [&]() -> PyResult<OwnedRef> {
    KESTRINE_ASSIGN_OR_RETURN(const AnchorBindings bindings,
                              bind_all(trees.roots, trees.aliases, trees.source_names));
    YamlNode& first = trees.roots.front();
    if (annotated) {
      return tree_to_annotated(first, trees.source_names, settings.version_mode, call.handlers, bindings,
                               settings.annotate_numbers);
    }
    return tree_to_py(first, settings.version_mode, call.handlers, bindings);
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

  const DocumentChecks checks{settings.version_mode, settings.upgrade,     settings.dup_error,
                              settings.dup_warn_only, settings.yaml11_warn, (settings.option & OPT_SINGLE_QUOTES) == 0,
                              settings.timestamps};
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
  KESTRINE_TRY(validate(trees, call.schema.get(), settings, /*round_trip=*/true));

  DocumentRecord record;
  record.roots = std::move(trees.roots);
  record.source_names = std::move(trees.source_names);
  record.source_texts = std::move(trees.source_texts);
  record.include_root = std::move(trees.include_root);
  record.source_text.emplace(call.text->text());
  record.flags = document_flags(settings, settings.version_mode);
  record.edit_marks = !settings.upgrade;  // only the 1.1 upgrade edits while loading
  return new_document(std::move(record));
}

// ---------------------------------------------------------------------------
// loads_all: annotated road

PyResult<OwnedRef> loads_all_annotated_road(LoadsAllCall& call) {
  const LoadSettings& settings = call.settings;
  const std::string_view text = call.text->text();
  OffLockLoad load = compose_off_lock(text, &settings, /*empty_document_as_null=*/true);
  if (load.check_error) return fail(decoder_error_to_py(*load.check_error));
  if (load.compose_error) return fail(compose_error_to_py(*load.compose_error));
  std::span<const YamlNode> roots = load.composed.roots;

  KESTRINE_TRY(located_duplicate_keys(roots, settings));
  if (settings.yaml11_warn) log_warnings(collect_version_warnings(roots, settings.version_mode));

  // The list too is made with the collector paused, as the plain road's is:
  // made before the pause, it set off a collection per call.
  GcPause pause(annotated_conversion_pauses_gc(call.handlers, settings.annotate_numbers));
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef list, checked(PyList_New(0)));
  for (YamlNode& root : load.composed.roots) {
    KESTRINE_ASSIGN_OR_RETURN(const AnchorBindings bindings,
                              bind_all(std::span<const YamlNode>(&root, 1), load.composed.aliases));
    AnchorObjectCache cache;
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef obj, tree_to_annotated_step(root, {}, settings.version_mode, call.handlers,
                                                                   bindings, settings.annotate_numbers, cache));
    KESTRINE_TRY(checked_status(PyList_Append(list.get(), obj.get())));
  }
  const KeepReleasedChunks keep;  // as on the located road
  drop_native(load.composed.roots, text.size());
  return list;
}

// ---------------------------------------------------------------------------
// loads_all: round-trip road

PyResult<OwnedRef> loads_all_round_trip_road(LoadsAllCall& call) {
  const LoadSettings& settings = call.settings;
  const Options option = settings.option;
  const std::string_view text = call.text->text();
  const auto checks_of = [&](VersionMode mode) {
    return DocumentChecks{mode,
                          settings.upgrade,
                          settings.dup_error,
                          settings.dup_warn_only,
                          (option & OPT_YAML_1_1_WARN) != 0 && mode != VersionMode::Yaml12,
                          (option & OPT_SINGLE_QUOTES) == 0,
                          settings.timestamps};
  };

  // Composed and every document checked off the lock; each document's
  // findings are then reported before it is made, as if checked in turn.
  std::optional<ComposeError> compose_error;
  ComposedStream composed;
  std::vector<std::string_view> slices;
  std::vector<VersionMode> modes;
  std::vector<DocumentCheckFindings> findings;
  without_gil([&] {
    auto stream = compose_text(text, 0, /*empty_document_as_null=*/true);
    if (!stream) {
      compose_error = std::move(stream.error());
      return;
    }
    composed = std::move(*stream);
    slices = document_slices(text, composed.document_starts);
    const std::size_t count = std::min(composed.roots.size(), slices.size());
    for (std::size_t i = 0; i < count; ++i) {
      modes.push_back(document_mode(slices[i], option));
      findings.push_back(run_document_checks(std::span<YamlNode>(&composed.roots[i], 1), checks_of(modes[i])));
    }
  });
  if (compose_error) return fail(compose_error_to_py(*compose_error));

  KESTRINE_ASSIGN_OR_RETURN(OwnedRef list, checked(PyList_New(0)));
  for (std::size_t i = 0; i < findings.size(); ++i) {
    KESTRINE_TRY(report_document_checks(findings[i]));
    KESTRINE_TRY(check_null_style_options(option));

    DocumentRecord record;
    record.roots.push_back(std::move(composed.roots[i]));
    record.source_text.emplace(slices[i]);
    record.source_offset = static_cast<std::size_t>(slices[i].data() - text.data());
    record.flags = document_flags(settings, modes[i]);
    record.edit_marks = !settings.upgrade;
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef document, new_document(std::move(record)));
    KESTRINE_TRY(checked_status(PyList_Append(list.get(), document.get())));
  }
  return list;
}

}  // namespace kestrine
