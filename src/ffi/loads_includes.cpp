#include "ffi/loads_includes.hpp"

#include <string>
#include <utility>
#include <vector>

#include "ffi/errors.hpp"
#include "ffi/loads_located_and_round_trip.hpp"
#include "include/loader.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

// "{prefix}{name}{middle}{file}:{line}"
std::string miss_message(std::string_view prefix, const MissingValue& record, std::string_view middle) {
  return std::string(prefix) + record.name + std::string(middle) + record.file + ":" +
         std::to_string(std::uint64_t{record.line} + 1);
}

PyStatus report_records(std::vector<MissingValue> records, PyObject* callable, bool warn, std::string_view prefix,
                        std::string_view middle) {
  for (const MissingValue& record : records) {
    if (callable != nullptr) {
      KESTRINE_TRY(call_missing_value_handler(callable, record.name, record.file, std::int64_t{record.line} + 1));
    }
    if (warn) log_warning(miss_message(prefix, record, middle));
  }
  return {};
}

}  // namespace

PyStatus report_missing_values(IncludeContext& ctx, const MissingValueHandlers& handlers) {
  KESTRINE_TRY(report_records(std::exchange(ctx.missing_secrets, {}), handlers.on_missing_secret,
                              handlers.warn_missing_secret, "secret '", "' is not defined in any secrets.yaml at "));
  return report_records(std::exchange(ctx.missing_env_vars, {}), handlers.on_missing_env_var,
                        handlers.warn_missing_env_var, "environment variable '", "' is not defined at ");
}

PyResult<LoadedTrees> loads_include_trees(LoadsCall& call) {
  const LoadSettings& settings = call.settings;
  IncludeContext ctx = load_include_context(
      settings, call.include_dir, MissListeners{call.on_missing_secret != nullptr, call.on_missing_env_var != nullptr});
  // A document opened by "---" without content reads as null, as on the
  // plain road (and a round-trip document keeps it).  Expanding reads files
  // and composes texts the call owns, and touches no Python object: other
  // threads run meanwhile.  What it found is reported once the lock is back.
  auto roots = without_gil(
      [&] { return expand_includes(ctx, call.text->text(), call.root_path, /*empty_document_as_null=*/true); });
  if (!roots) return fail(load_error_to_py(roots.error()));
  for (const std::string& warning : ctx.warnings) log_warning(warning);
  const MissingValueHandlers handlers{call.on_missing_secret, settings.warn_missing_secret, call.on_missing_env_var,
                                      settings.warn_missing_env_var};
  KESTRINE_TRY(report_missing_values(ctx, handlers));
  LoadedTrees trees;
  trees.roots = std::move(*roots);
  trees.aliases = ctx.aliases;
  SourceTable table = into_source_table(std::move(ctx));
  trees.source_names = std::move(table.names);
  trees.source_texts = std::move(table.texts);
  trees.include_root = std::move(table.include_root);
  return trees;
}

}  // namespace kestrine
