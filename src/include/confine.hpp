// The include root as a wall: every file and directory the include loader
// reads is opened through here, relative to a descriptor of the root.
//
//   IncludeRoot root = IncludeRoot::open(include_dir);   // once per load
//   auto resolved = resolve_include_path(ctx, joined, shown, file_id, chain);
//   auto fd = open_beneath(root, *resolved, OpenAs::File);
//   auto text = read_regular_file(fd->get());
//
// Two layers, because naming and reading are separate steps that a
// concurrent change of the tree could come between:
//   - `resolve_include_path` decides what a path means (the canonical path
//     the chain, the cycle test and the source table record) and refuses a
//     path outside the root, lexically when it does not exist;
//   - `open_beneath` opens that path without following any symbolic link,
//     relative to the root's descriptor (openat2 with RESOLVE_BENEATH where
//     the kernel has it; otherwise one O_NOFOLLOW step per component and a
//     check that the directory reached still lies below the root), so a file
//     swapped for a link between the two steps cannot lead outside.
// A root that cannot be opened and canonicalised (an empty text, a missing
// directory, a deleted working directory, a text holding NUL) is unusable:
// it contains nothing, and every include fails the confinement test.
// Texts holding a NUL byte never reach a system call.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "include/error.hpp"
#include "util/os_error.hpp"
#include "util/unique_fd.hpp"

namespace kestrine {

struct IncludeContext;

class IncludeRoot {
 public:
  IncludeRoot() = default;  // unusable
  // Opens `dir` (symbolic links on its own path are followed: the caller
  // chose it) and canonicalises it; unusable when either fails or when the
  // two name different directories (the path changed in between).
  static IncludeRoot open(std::string_view dir);

  bool usable() const noexcept { return static_cast<bool>(fd_); }
  // The canonical absolute path; empty when unusable.
  const std::string& canonical() const noexcept { return canonical_; }
  int fd() const noexcept { return fd_.get(); }
  dev_t device() const noexcept { return device_; }
  ino_t inode() const noexcept { return inode_; }

 private:
  UniqueFd fd_;  // O_PATH descriptor of the root directory
  std::string canonical_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

enum class OpenAs : std::uint8_t { File, Directory };

// Why an open or read beneath the root failed.
struct OpenFailure {
  enum class Reason : std::uint8_t {
    System,      // `error` holds the errno
    Escapes,     // a symbolic link or a moved directory on the way
    NulInName,   // the path holds a NUL byte
    NotRegular,  // a directory, FIFO, socket or device named as a file
    NotUtf8,
  };
  Reason reason = Reason::System;
  int error = 0;

  // The text shown after "cannot read included file '{}': ".
  std::string text() const;
};

// Opens `path`, a normalised absolute path, read-only and non-blocking,
// beneath `root`; a path not within the root's canonical path fails as
// Escapes without any system call.
std::expected<UniqueFd, OpenFailure> open_beneath(const IncludeRoot& root, std::string_view path, OpenAs as);

// A file whatever name it was reached by (links, hard links): its device
// and inode.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
  template <class H>
  friend H AbslHashValue(H state, const FileIdentity& file) {
    return H::combine(std::move(state), file.device, file.inode);
  }
};

// The whole content of an open regular file (anything else is NotRegular,
// refused before reading, so a FIFO or device never blocks the load); the
// file's identity into `identity` when one is given.
std::expected<std::string, OpenFailure> read_regular_file(int fd, FileIdentity* identity = nullptr);

// The operating system's canonical form of `path` (absolute, every link
// resolved), or the errno of the failure; a path holding NUL is never handed
// to the system (EINVAL).
std::expected<std::string, int> canonical_path(std::string_view path);

// The path `candidate` names as an include reads it, without the checks of
// resolve_include_path: its canonical form when it exists, else its lexically
// normalised absolute form (a relative path taken from the working
// directory).
std::string path_as_read(std::string_view candidate);

// "'{shown}' resolves outside the configured include directory"
std::string outside_root_message(std::string_view shown);
// "cannot read included file '{shown}': {reason}"
std::string unreadable_file_message(std::string_view shown, std::string_view reason);

// The path an include reads: the candidate's canonical form when it exists
// and lies within the root; when it does not exist, its lexically normalised
// absolute form when that lies within the root (the read then fails).
// Errors: IncludeConfinement "'{shown}' resolves outside the configured
// include directory" (also for every path when the root is unusable) and
// IncludeNotFound "cannot read included file '{shown}': not found" for a
// dangling symbolic link; both name the file holding the directive
// (`file_id`) and carry a copy of `chain`.
std::expected<std::string, LoadError> resolve_include_path(const IncludeContext& ctx, std::string_view candidate,
                                                           std::string_view shown, std::uint32_t file_id,
                                                           std::span<const IncludeFrame> chain);

// How `open_beneath` reaches files.  Auto uses openat2 when the kernel has
// it; ComponentWalk forces the fallback (tests exercise both).
enum class BeneathMode : std::uint8_t { Auto, ComponentWalk };
void set_beneath_mode(BeneathMode mode) noexcept;
// Whether the kernel offers openat2 (probed once).
bool kernel_has_openat2() noexcept;

}  // namespace kestrine
