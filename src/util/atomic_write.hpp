// Replacing files whole: a reader sees the old file or the new one, never a
// mixture, and a failed write leaves the old file as it was.
//
//   auto done = write_atomic("conf/app.yaml", text);      // one file
//
//   std::vector<StagedFile> batch;                          // several: all or none
//   for (...) {
//     KESTRINE_ASSIGN_OR_RETURN(StagedFile staged, stage_file(path, text));
//     batch.push_back(std::move(staged));
//   }
//   KESTRINE_TRY(commit_staged(batch));
//
// Staging writes the contents to a temporary file in the target's directory,
// named "{name}.kestrine-tmp.{pid}.{n}" (n from a process-wide counter; a
// name that exists already is passed over), and flushes it to stable
// storage.  The temporary file takes the target's permission bits (a new
// target: 0666 less the umask) and is never more open than those while its
// contents are written.  Committing renames it over the target in one step
// and flushes the directory.  A StagedFile dropped without a commit removes
// its temporary file, so a failure anywhere before the commits leaves every
// target untouched.  When the target is a symbolic link, the file it points
// to is replaced and the link stays.
//
// Nothing here knows of include roots: callers that must stay inside one
// open the directory themselves and stage with `stage_file_in`.  Paths that
// hold a NUL byte never reach a system call.
#pragma once

#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "util/unique_fd.hpp"

namespace kestrine {

inline constexpr std::string_view kUnwritablePathMessage = "cannot write a path that ends in `..` or is empty";
inline constexpr std::string_view kNulInPathMessage = "file name contained an unexpected NUL byte";
inline constexpr std::string_view kShortWriteMessage = "failed to write whole buffer";

struct WriteError {
  std::string path;    // the target as the caller named it
  std::string reason;  // the operating system's text, or one of the messages above
  int code = 0;        // the errno value; 0 for the messages above
};

template <class T = void>
using WriteResult = std::expected<T, WriteError>;

// A temporary file holding the new contents of one target, not yet renamed
// over it.  Move-only; the destructor removes the temporary file unless the
// commit succeeded.
class StagedFile {
 public:
  StagedFile(StagedFile&& other) noexcept;
  StagedFile& operator=(StagedFile&& other) noexcept;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile();

  // The target as the caller named it.
  const std::string& target() const noexcept { return shown_; }
  // The temporary file's name within the target's directory.
  const std::string& temporary_name() const noexcept { return temp_; }

  // Renames the temporary file over the target and flushes the directory.
  // On failure the temporary file is removed and the target is untouched.
  WriteResult<> commit();

 private:
  friend WriteResult<StagedFile> stage_file_in(UniqueFd directory, std::string_view name, std::string shown,
                                               std::string_view contents);
  StagedFile(UniqueFd directory, std::string name, std::string temp, std::string shown) noexcept;
  void discard() noexcept;

  UniqueFd dir_;
  std::string name_;   // the target's name in dir_
  std::string temp_;   // the temporary file's name in dir_; empty once committed or discarded
  std::string shown_;
};

// Stages `contents` for `path`.  The final component must be a file name
// (not empty, ".", ".." or a root): else kUnwritablePathMessage.  A bare
// name lies in the current directory.  Symbolic links at the final
// component are followed (at most 40), so the file they lead to is staged.
WriteResult<StagedFile> stage_file(std::string_view path, std::string_view contents);

// Stages `contents` for the entry `name` (one component) of the open
// directory `directory`, which the result keeps for the commit.  The entry
// is not followed if it is a link: the commit would replace the link itself.
// `shown` names the target in errors.
WriteResult<StagedFile> stage_file_in(UniqueFd directory, std::string_view name, std::string shown,
                                      std::string_view contents);

// Commits each file in order; stops at the first failure (files committed
// before it stay replaced, the ones after it are dropped with their
// temporary files when the caller releases them).
WriteResult<> commit_staged(std::span<StagedFile> files);

// stage_file, then commit.
WriteResult<> write_atomic(std::string_view path, std::string_view contents);

}  // namespace kestrine
