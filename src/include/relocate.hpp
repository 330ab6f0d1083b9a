// Writing a directive in another file of the same load than the one it was
// read in, as a detached copy does (copy_expanding_aliases_for_detach):
// the directive must read the same from there.
//
//   const SourceTableRelocator relocator(doc);
//   EditResult<> detached = detach_alias(root, alias, &relocator);
//
// An include tag names a path from the folder of the file that holds it
// (the top-level text's: that of its name, else the include root).  A
// relative argument moved to a file in another folder is written as the
// path from there to the path the load read (canonical where it exists),
// which lies inside the include root; it must lead there again when
// resolved as the load resolves it, or the move is refused.  An absolute
// argument, or one moved within its folder, stays as written.
//
// `!secret NAME` is looked up from the folder of its file upwards to the
// include root (secrets_search_start).  Moved, it keeps its name only when
// the lookup from the new folder finds what the load found: the new folder
// lies on the load's way up, at or below the secrets.yaml that gave the
// value (or the root, for a secret not found), so every folder the new
// lookup passes before it was one where the load found nothing.  Otherwise
// the move is refused: a folder the load did not look in may define the
// name.  `!env_var` names no file, and moves as it is.
//
// The relocator reads the document's source-file table and include root,
// and the file system for canonical paths; it changes nothing else.  A
// refusal names the directive and the two files, never a secret's value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "roundtrip/document/document.hpp"
#include "roundtrip/tree/tree_ops.hpp"

namespace kestrine {

class SourceTableRelocator final : public DirectiveRelocator {
 public:
  explicit SourceTableRelocator(const DocumentRecord& doc) noexcept : doc_(doc) {}

  std::optional<std::string> relocate(IncludeSource& source, std::uint32_t read_in,
                                      std::uint32_t written_in) const override;

 private:
  std::optional<std::string> relocate_include(IncludeSource& source, std::uint32_t read_in,
                                              std::uint32_t written_in) const;
  std::optional<std::string> relocate_secret(const IncludeSource& source, std::uint32_t read_in,
                                             std::uint32_t written_in) const;
  // The folder relative include arguments of file `file_id` start from.
  std::string include_folder(std::uint32_t file_id) const;
  // "'{tag} {target}' was read in {file}", the start of every refusal.
  std::string read_in_text(const IncludeSource& source, std::uint32_t read_in) const;
  std::string file_name(std::uint32_t file_id) const;

  const DocumentRecord& doc_;
};

}  // namespace kestrine
