// The files a directory tag loads, in their order.
//
// Within one directory: its files in ascending byte order of their names,
// then (with OPT_INCLUDE_DIR_RECURSIVE) each subdirectory in ascending
// order, each subtree complete before the next.  Listed are names with the
// extension "yaml" or "yml" (exactly), not starting with "."; with
// OPT_SECRETS a file named "secrets.yaml" is left out.  Every entry that is
// (or may be) a symbolic link passes resolve_include_path, so a link
// leading out of the root fails the listing; directories are opened beneath
// the root and each is read at most once per listing, so a link back to an
// ancestor ends instead of looping.  Files are not opened here.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "include/context.hpp"
#include "util/unique_fd.hpp"

namespace kestrine {

struct IncludeDirEntry {
  std::string key;   // the name up to its last "." (U+FFFD for invalid UTF-8)
  std::string path;  // resolved path
};

// True when name `a` sorts before `b`: bytes compared unsigned, and on a
// tie the shorter first.
bool compare_dir_entries(std::string_view a, std::string_view b) noexcept;

// The error for a directory that could not be opened beneath the root: the
// confinement error (naming `shown`) when the way led out of it, else
// IncludeNotFound "cannot read directory: {reason}" naming the directory.
LoadError directory_open_error(const IncludeContext& ctx, std::string_view directory, std::string_view shown,
                               const OpenFailure& failure, std::uint32_t file_id,
                               std::span<const IncludeFrame> chain);

// Lists `directory` (a resolved path; `opened` its descriptor, opened
// beneath the root).  Errors: IncludeNotFound "cannot read directory: {}"
// and those of resolve_include_path.
LoadResult<std::vector<IncludeDirEntry>> list_include_dir(IncludeContext& ctx, std::string_view directory,
                                                          UniqueFd opened, std::uint32_t file_id,
                                                          std::span<const IncludeFrame> chain);

}  // namespace kestrine
