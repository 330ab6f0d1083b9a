#include "include/listing.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "include/paths.hpp"
#include "util/hash_map.hpp"
#include "util/try.hpp"
#include "util/utf8.hpp"

namespace kestrine {
namespace {

struct RawEntry {
  std::string name;
  unsigned char type;  // d_type
};

using DirCloser = decltype([](DIR* d) { ::closedir(d); });
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// The extension after the last "." (none when the only "." is the first
// character).
bool has_yaml_extension(std::string_view name) noexcept {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return false;
  const std::string_view extension = name.substr(dot + 1);
  return extension == "yaml" || extension == "yml";
}

std::string_view stem_of(std::string_view name) noexcept {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return name;
  return name.substr(0, dot);
}

// Whether the entry is a directory, links followed; an entry that cannot be
// examined is not.
bool is_directory_entry(DIR* dir, const RawEntry& entry) noexcept {
  if (entry.type == DT_DIR) return true;
  if (entry.type != DT_LNK && entry.type != DT_UNKNOWN) return false;
  struct stat st;
  return ::fstatat(::dirfd(dir), entry.name.c_str(), &st, 0) == 0 && S_ISDIR(st.st_mode);
}

std::vector<RawEntry> read_entries(DIR* dir) {
  std::vector<RawEntry> entries;
  while (const dirent* e = ::readdir(dir)) {
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    entries.push_back(RawEntry{std::string(name), e->d_type});
  }
  std::sort(entries.begin(), entries.end(),
            [](const RawEntry& a, const RawEntry& b) { return compare_dir_entries(a.name, b.name); });
  return entries;
}

// The path of an entry under a directory read beneath the root.  The
// directory's path is canonical (it was opened without meeting a link), so
// an entry the directory says is no link has its joined path as canonical
// form; anything else is resolved.
LoadResult<std::string> entry_path(IncludeContext& ctx, std::string joined, bool known_not_link,
                                   std::uint32_t file_id, std::span<const IncludeFrame> chain) {
  if (known_not_link) return joined;
  return resolve_include_path(ctx, joined, utf8_lossy(joined), file_id, chain);
}

class DirectoryLister {
 public:
  DirectoryLister(IncludeContext& ctx, std::uint32_t file_id, std::span<const IncludeFrame> chain)
      : ctx_(ctx), file_id_(file_id), chain_(chain) {}

  // Reads one directory: appends its files to the listing and gives its
  // subdirectories in ascending order.
  LoadResult<std::vector<std::string>> read(const std::string& directory, UniqueFd fd) {
    DirHandle dir(::fdopendir(fd.get()));
    if (!dir) {
      const OpenFailure failure{OpenFailure::Reason::System, errno};
      return std::unexpected(directory_open_error(ctx_, directory, directory, failure, file_id_, chain_));
    }
    fd.release();
    std::vector<std::string> subdirectories;
    for (const RawEntry& entry : read_entries(dir.get())) {
      if (entry.name.front() == '.') continue;
      std::string joined = join_path(directory, entry.name);
      if (is_directory_entry(dir.get(), entry)) {
        if (!ctx_.include_dir_recursive) continue;
        KESTRINE_ASSIGN_OR_RETURN(std::string resolved,
                                  entry_path(ctx_, std::move(joined), entry.type == DT_DIR, file_id_, chain_));
        subdirectories.push_back(std::move(resolved));
        continue;
      }
      if (!has_yaml_extension(entry.name)) continue;
      if (ctx_.secrets && entry.name == "secrets.yaml") continue;
      KESTRINE_ASSIGN_OR_RETURN(std::string resolved,
                                entry_path(ctx_, std::move(joined), entry.type == DT_REG, file_id_, chain_));
      listing_.push_back(IncludeDirEntry{utf8_lossy(stem_of(entry.name)), std::move(resolved)});
    }
    return subdirectories;
  }

  std::vector<IncludeDirEntry> take() { return std::move(listing_); }

 private:
  IncludeContext& ctx_;
  std::uint32_t file_id_;
  std::span<const IncludeFrame> chain_;
  std::vector<IncludeDirEntry> listing_;
};

}  // namespace

LoadError directory_open_error(const IncludeContext& ctx, std::string_view directory, std::string_view shown,
                               const OpenFailure& failure, std::uint32_t file_id,
                               std::span<const IncludeFrame> chain) {
  if (failure.reason == OpenFailure::Reason::Escapes) {
    return make_load_error(IncludeErrorKind::IncludeConfinement, outside_root_message(shown),
                           source_name(ctx, file_id), chain);
  }
  return make_load_error(IncludeErrorKind::IncludeNotFound, "cannot read directory: " + failure.text(),
                         std::string(directory), chain);
}

bool compare_dir_entries(std::string_view a, std::string_view b) noexcept {
  // char_traits<char> compares as unsigned char, and a prefix sorts first.
  return a < b;
}

LoadResult<std::vector<IncludeDirEntry>> list_include_dir(IncludeContext& ctx, std::string_view directory,
                                                          UniqueFd opened, std::uint32_t file_id,
                                                          std::span<const IncludeFrame> chain) {
  DirectoryLister lister(ctx, file_id, chain);
  SeededHashSet<std::string> seen;
  std::vector<std::string> pending{std::string(directory)};
  while (!pending.empty()) {
    const std::string path = std::move(pending.back());
    pending.pop_back();
    if (!seen.insert(path).second) continue;  // a link back to a directory already read
    UniqueFd fd = std::move(opened);
    if (!fd) {
      auto reopened = open_beneath(ctx.root, path, OpenAs::Directory);
      if (!reopened) {
        return std::unexpected(directory_open_error(ctx, path, utf8_lossy(path), reopened.error(), file_id, chain));
      }
      fd = std::move(*reopened);
    }
    KESTRINE_ASSIGN_OR_RETURN(std::vector<std::string> subdirectories, lister.read(path, std::move(fd)));
    for (auto it = subdirectories.rbegin(); it != subdirectories.rend(); ++it) pending.push_back(std::move(*it));
  }
  return lister.take();
}

}  // namespace kestrine
