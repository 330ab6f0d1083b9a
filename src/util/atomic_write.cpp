#include "util/atomic_write.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <optional>
#include <cerrno>
#include <cstdint>
#include <utility>

#include "util/os_error.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

std::atomic<std::uint64_t> g_temp_counter{0};

constexpr int kMaxLinkHops = 40;
constexpr std::size_t kMaxWriteChunk = 2147483647;

std::unexpected<WriteError> os_failure(std::string_view shown, int error) {
  return std::unexpected(WriteError{std::string(shown), os_error_text(error), error});
}

std::unexpected<WriteError> message_failure(std::string_view shown, std::string_view message) {
  return std::unexpected(WriteError{std::string(shown), std::string(message), 0});
}

// A path split into the directory to open and the final name in it.
struct PathParts {
  std::string directory;  // "." for a bare name
  std::string name;
};

// Trailing slashes are ignored; the final component must be a name.
std::optional<PathParts> split_target(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path.empty() || path == "/") return std::nullopt;
  const std::size_t slash = path.rfind('/');
  PathParts parts;
  parts.name = std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
  if (parts.name == "." || parts.name == "..") return std::nullopt;
  if (slash == std::string_view::npos) {
    parts.directory = ".";
  } else {
    parts.directory = std::string(slash == 0 ? path.substr(0, 1) : path.substr(0, slash));
  }
  return parts;
}

// The path a write to `path` lands on: the final component followed while
// it is a symbolic link.  A path that does not exist (yet) is its own end.
WriteResult<std::string> follow_final_links(std::string_view shown, std::string path) {
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) return os_failure(shown, errno);
    target.resize(static_cast<std::size_t>(n));
    if (target.empty() || target.find('\0') != std::string::npos) return os_failure(shown, ENOENT);
    if (target.front() == '/') {
      path = std::move(target);
    } else {
      const std::optional<PathParts> parts = split_target(path);
      if (!parts) return message_failure(shown, kUnwritablePathMessage);
      path = parts->directory + "/" + target;
    }
  }
  return os_failure(shown, ELOOP);
}

// "{name}.kestrine-tmp.{pid}.{n}", or ".kestrine-tmp.{pid}.{n}" when the
// name would make it longer than a directory entry may be.
std::string temporary_name(std::string_view name, std::uint64_t n) {
  std::string suffix = ".kestrine-tmp." + std::to_string(::getpid()) + "." + std::to_string(n);
  if (name.size() + suffix.size() > NAME_MAX) return suffix;
  return std::string(name) + suffix;
}

WriteResult<> write_all(int fd, std::string_view contents, std::string_view shown) {
  while (!contents.empty()) {
    const std::size_t chunk = contents.size() < kMaxWriteChunk ? contents.size() : kMaxWriteChunk;
    const ssize_t n = ::write(fd, contents.data(), chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return os_failure(shown, errno);
    }
    if (n == 0) return message_failure(shown, kShortWriteMessage);
    contents.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

// What the target is now: its permission bits when it is a file to keep
// them from.
struct TargetState {
  bool exists = false;
  mode_t mode = 0;
};

WriteResult<TargetState> target_state(int dir, const std::string& name, std::string_view shown) {
  struct stat st;
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return TargetState{};
    return os_failure(shown, errno);
  }
  // A directory cannot be replaced by a file; saying so now spares the write.
  if (S_ISDIR(st.st_mode)) return os_failure(shown, EISDIR);
  if (S_ISLNK(st.st_mode)) return TargetState{};
  return TargetState{true, static_cast<mode_t>(st.st_mode & 07777)};
}

}  // namespace

// ---- StagedFile -----------------------------------------------------------------

StagedFile::StagedFile(UniqueFd directory, std::string name, std::string temp, std::string shown) noexcept
    : dir_(std::move(directory)), name_(std::move(name)), temp_(std::move(temp)), shown_(std::move(shown)) {}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : dir_(std::move(other.dir_)),
      name_(std::move(other.name_)),
      temp_(std::exchange(other.temp_, {})),
      shown_(std::move(other.shown_)) {}

StagedFile& StagedFile::operator=(StagedFile&& other) noexcept {
  if (this != &other) {
    discard();
    dir_ = std::move(other.dir_);
    name_ = std::move(other.name_);
    temp_ = std::exchange(other.temp_, {});
    shown_ = std::move(other.shown_);
  }
  return *this;
}

StagedFile::~StagedFile() { discard(); }

void StagedFile::discard() noexcept {
  if (!temp_.empty() && dir_) ::unlinkat(dir_.get(), temp_.c_str(), 0);
  temp_.clear();
}

WriteResult<> StagedFile::commit() {
  if (temp_.empty()) return message_failure(shown_, "nothing staged");
  if (::renameat(dir_.get(), temp_.c_str(), dir_.get(), name_.c_str()) != 0) {
    const int error = errno;
    discard();
    return os_failure(shown_, error);
  }
  temp_.clear();
  // The rename is done; flushing the directory makes it survive a crash.  A
  // file system that cannot flush directories has nothing more to offer.
  ::fsync(dir_.get());
  return {};
}

// ---- staging --------------------------------------------------------------------

WriteResult<StagedFile> stage_file(std::string_view path, std::string_view contents) {
  if (path.find('\0') != std::string_view::npos) return message_failure(path, kNulInPathMessage);
  if (!split_target(path)) return message_failure(path, kUnwritablePathMessage);
  KESTRINE_ASSIGN_OR_RETURN(const std::string final_path, follow_final_links(path, std::string(path)));
  const std::optional<PathParts> parts = split_target(final_path);
  if (!parts) return message_failure(path, kUnwritablePathMessage);
  UniqueFd dir(::open(parts->directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return os_failure(path, errno);
  return stage_file_in(std::move(dir), parts->name, std::string(path), contents);
}

WriteResult<StagedFile> stage_file_in(UniqueFd directory, std::string_view name, std::string shown,
                                      std::string_view contents) {
  const std::string target(name);
  if (target.empty() || target == "." || target == ".." || target.find('/') != std::string::npos)
    return message_failure(shown, kUnwritablePathMessage);
  if (target.find('\0') != std::string::npos) return message_failure(shown, kNulInPathMessage);
  KESTRINE_ASSIGN_OR_RETURN(const TargetState state, target_state(directory.get(), target, shown));
  // Created no more open than the target (the umask may take bits away; the
  // exact bits are set once the contents are in).
  const mode_t create_mode = state.exists ? (state.mode & 0666) : 0666;
  UniqueFd fd;
  std::string temp;
  for (;;) {
    temp = temporary_name(target, g_temp_counter.fetch_add(1, std::memory_order_relaxed));
    fd.reset(::openat(directory.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                      create_mode));
    if (fd) break;
    if (errno != EEXIST) return os_failure(shown, errno);
  }
  StagedFile staged(std::move(directory), target, std::move(temp), std::move(shown));
  KESTRINE_TRY(write_all(fd.get(), contents, staged.target()));
  if (state.exists && ::fchmod(fd.get(), state.mode) != 0) return os_failure(staged.target(), errno);
  if (::fsync(fd.get()) != 0) return os_failure(staged.target(), errno);
  if (::close(fd.release()) != 0) return os_failure(staged.target(), errno);
  return staged;
}

WriteResult<> commit_staged(std::span<StagedFile> files) {
  for (StagedFile& file : files) KESTRINE_TRY(file.commit());
  return {};
}

WriteResult<> write_atomic(std::string_view path, std::string_view contents) {
  KESTRINE_ASSIGN_OR_RETURN(StagedFile staged, stage_file(path, contents));
  return staged.commit();
}

}  // namespace kestrine
