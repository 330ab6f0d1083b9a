#include "include/relocate.hpp"

#include <utility>

#include "include/confine.hpp"
#include "include/paths.hpp"
#include "include/secrets.hpp"

namespace kestrine {

std::optional<std::string> SourceTableRelocator::relocate(IncludeSource& source, std::uint32_t read_in,
                                                          std::uint32_t written_in) const {
  if (read_in == written_in) return std::nullopt;
  if (is_include_tag(std::string_view(source.tag))) return relocate_include(source, read_in, written_in);
  if (source.tag == kSecretTag) return relocate_secret(source, read_in, written_in);
  return std::nullopt;
}

std::optional<std::string> SourceTableRelocator::relocate_include(IncludeSource& source, std::uint32_t read_in,
                                                                  std::uint32_t written_in) const {
  if (source.target.starts_with('/')) return std::nullopt;
  const std::string from = include_folder(read_in);
  const std::string to = include_folder(written_in);
  if (from == to) return std::nullopt;
  const auto refused = [&] {
    return read_in_text(source, read_in) + " and cannot name that path from " + file_name(written_in);
  };
  // The path the load read; the new argument leads there from the canonical
  // folder, where ".." is the parent the file system resolves too.
  const std::string target = path_as_read(join_path(from, source.target));
  const auto folder = canonical_path(to.empty() ? std::string_view(".") : std::string_view(to));
  if (!folder || !path_within(target, doc_.include_root)) return refused();
  std::string argument = relative_path(target, *folder);
  // Read the way the load reads it: a path that does not exist is taken
  // lexically from the folder as named, which may differ.
  if (path_as_read(join_path(to, argument)) != target) return refused();
  source.target = std::move(argument);
  return std::nullopt;
}

std::optional<std::string> SourceTableRelocator::relocate_secret(const IncludeSource& source, std::uint32_t read_in,
                                                                 std::uint32_t written_in) const {
  const std::string& root = doc_.include_root;
  const std::string from = secrets_search_start(file_name(read_in), root);
  const std::string to = secrets_search_start(file_name(written_in), root);
  if (from == to) return std::nullopt;
  // Where the load's lookup ended: the folder of the secrets file that gave
  // the value, else the root.
  std::string_view found = root;
  if (!source.content_files.empty()) {
    const std::uint32_t secrets_file = source.content_files.back();
    std::optional<std::string_view> parent;
    if (secrets_file < doc_.source_names.size()) parent = parent_path(doc_.source_names[secrets_file]);
    found = parent.value_or(std::string_view());  // nothing lies within an empty folder
  }
  if (!root.empty() && path_within(from, to) && path_within(to, found)) return std::nullopt;
  return read_in_text(source, read_in) + "; looked up from " + file_name(written_in) +
         " it may find another value";
}

std::string SourceTableRelocator::include_folder(std::uint32_t file_id) const {
  if (file_id < doc_.source_names.size()) {
    if (const auto parent = parent_path(doc_.source_names[file_id])) return std::string(*parent);
  }
  return doc_.include_root;
}

std::string SourceTableRelocator::read_in_text(const IncludeSource& source, std::uint32_t read_in) const {
  return "'" + source.tag + " " + source.target + "' was read in " + file_name(read_in);
}

std::string SourceTableRelocator::file_name(std::uint32_t file_id) const {
  return file_id < doc_.source_names.size() ? doc_.source_names[file_id] : doc_.include_root;
}

}  // namespace kestrine
