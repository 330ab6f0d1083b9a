// Placeholder until secrets are built: the loading entry refuses OPT_SECRETS
// before any expansion, so this is reached only by direct callers.  The unit
// that defines resolve_secret replaces this file.
#include "include/secrets.hpp"

namespace kestrine {

LoadResult<YamlNode> resolve_secret(IncludeContext& ctx, const YamlNode& tagged, std::span<const IncludeFrame> chain) {
  return std::unexpected(make_load_error(IncludeErrorKind::Include, "!secret is not implemented yet",
                                         source_name(ctx, tagged.span.file_id), chain));
}

}  // namespace kestrine
