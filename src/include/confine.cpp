#include "include/confine.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#if __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "include/context.hpp"
#include "include/paths.hpp"

namespace kestrine {
namespace {

#if defined(SYS_openat2) && defined(RESOLVE_BENEATH)
#define KESTRINE_HAVE_OPENAT2 1
#else
#define KESTRINE_HAVE_OPENAT2 0
#endif

std::atomic<BeneathMode> g_mode{BeneathMode::Auto};
// 0: not probed, 1: present, 2: missing (ENOSYS).
std::atomic<int> g_openat2{0};

// Read-only, never through a final symbolic link, never blocking on a FIFO
// or a device, never adopting a terminal.
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;

int open_flags(OpenAs as) noexcept { return kReadFlags | (as == OpenAs::Directory ? O_DIRECTORY : 0); }

std::unexpected<OpenFailure> failure(OpenFailure::Reason reason, int error = 0) {
  return std::unexpected(OpenFailure{reason, error});
}

// A link met where the resolved path had none, or a way out of the root.
std::unexpected<OpenFailure> failure_from_errno(int error) {
  if (error == ELOOP || error == EXDEV || error == EAGAIN) return failure(OpenFailure::Reason::Escapes, error);
  return failure(OpenFailure::Reason::System, error);
}

// The part of `path` below `root`: "." for the root itself.
std::string relative_to(std::string_view path, std::string_view root) {
  if (path.size() == root.size()) return ".";
  return std::string(path.substr(root.size() + (root.back() == '/' ? 0 : 1)));
}

bool is_root(const struct stat& st, const IncludeRoot& root) noexcept {
  return st.st_dev == root.device() && st.st_ino == root.inode();
}

// True when the directory `fd` is the root or lies below it: climbs ".."
// until the root is met; reaching the top of the file system means the
// directory was moved out while it was being walked.
bool directory_beneath(int fd, const IncludeRoot& root) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  UniqueFd held;
  int current = fd;
  for (int steps = 0; steps < 4096; ++steps) {
    if (is_root(st, root)) return true;
    UniqueFd parent(::openat(current, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat up;
    if (!parent || ::fstat(parent.get(), &up) != 0) return false;
    if (up.st_dev == st.st_dev && up.st_ino == st.st_ino) return false;
    held = std::move(parent);
    current = held.get();
    st = up;
  }
  return false;
}

// The fallback of open_beneath: one component at a time, none followed if it
// is a link, then a check that the last directory still lies below the root.
std::expected<UniqueFd, OpenFailure> open_by_components(const IncludeRoot& root, const std::string& relative,
                                                        int flags) {
  UniqueFd directory;
  int current = root.fd();
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = relative.find('/', start);
    const std::string part = relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (part == "..") return failure(OpenFailure::Reason::Escapes);
    if (slash == std::string::npos) {
      UniqueFd fd(::openat(current, part.c_str(), flags));
      if (!fd) return failure_from_errno(errno);
      if (current != root.fd() && !directory_beneath(current, root)) return failure(OpenFailure::Reason::Escapes);
      return fd;
    }
    UniqueFd next(::openat(current, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next) {
      int error = errno;
      struct stat st;
      if (error == ENOTDIR && ::fstatat(current, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        error = ELOOP;
      return failure_from_errno(error);
    }
    directory = std::move(next);
    current = directory.get();
    start = slash + 1;
  }
}

#if KESTRINE_HAVE_OPENAT2
long call_openat2(int dirfd, const char* path, int flags) noexcept {
  struct open_how how;
  std::memset(&how, 0, sizeof how);
  how.flags = static_cast<std::uint64_t>(flags);
  // The resolved path holds no link, so none may be met on the way, and
  // nothing may resolve above the root.
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  return ::syscall(SYS_openat2, dirfd, path, &how, sizeof how);
}
#endif

}  // namespace

// ---- the root -------------------------------------------------------------

IncludeRoot IncludeRoot::open(std::string_view dir) {
  IncludeRoot root;
  if (dir.empty() || holds_nul(dir)) return root;
  const std::string path(dir);
  UniqueFd fd(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return root;
  auto real = canonical_path(path);
  if (!real) return root;
  struct stat held, named;
  if (::fstat(fd.get(), &held) != 0 || ::stat(real->c_str(), &named) != 0 || held.st_dev != named.st_dev ||
      held.st_ino != named.st_ino) {
    return root;
  }
  root.fd_ = std::move(fd);
  root.canonical_ = std::move(*real);
  root.device_ = held.st_dev;
  root.inode_ = held.st_ino;
  return root;
}

// ---- opening and reading ------------------------------------------------

std::expected<std::string, int> canonical_path(std::string_view path) {
  if (holds_nul(path)) return std::unexpected(EINVAL);
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(std::string(path).c_str(), nullptr), &std::free);
  if (!real) return std::unexpected(errno);
  return std::string(real.get());
}

namespace {

// `path` taken from the working directory when it is relative (as it is
// when the working directory cannot be told).
std::string absolute_path(std::string_view path) {
  std::string absolute(path);
  if (path.empty() || path.front() != '/') {
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    if (cwd) absolute = join_path(cwd.get(), path);
  }
  return absolute;
}

}  // namespace

std::string path_as_read(std::string_view candidate) {
  if (auto canonical = canonical_path(candidate)) return std::move(*canonical);
  return normalize_path(absolute_path(candidate));
}

std::string outside_root_message(std::string_view shown) {
  return "'" + std::string(shown) + "' resolves outside the configured include directory";
}

std::string unreadable_file_message(std::string_view shown, std::string_view reason) {
  return "cannot read included file '" + std::string(shown) + "': " + std::string(reason);
}

std::string OpenFailure::text() const {
  switch (reason) {
    case Reason::System: return os_error_text(error);
    case Reason::Escapes: return "the path leads outside the include directory";
    case Reason::NulInName: return "file name contained an unexpected NUL byte";
    case Reason::NotRegular: return "not a regular file";
    case Reason::NotUtf8: return "stream did not contain valid UTF-8";
  }
  return {};
}

void set_beneath_mode(BeneathMode mode) noexcept { g_mode.store(mode, std::memory_order_relaxed); }

bool kernel_has_openat2() noexcept {
#if KESTRINE_HAVE_OPENAT2
  int state = g_openat2.load(std::memory_order_relaxed);
  if (state == 0) {
    const long fd = call_openat2(AT_FDCWD, "/", O_PATH | O_CLOEXEC);
    state = fd >= 0 || errno != ENOSYS ? 1 : 2;
    if (fd >= 0) ::close(static_cast<int>(fd));
    g_openat2.store(state, std::memory_order_relaxed);
  }
  return state == 1;
#else
  return false;
#endif
}

std::expected<UniqueFd, OpenFailure> open_beneath(const IncludeRoot& root, std::string_view path, OpenAs as) {
  if (holds_nul(path)) return failure(OpenFailure::Reason::NulInName);
  if (!root.usable() || !path_within(path, root.canonical())) return failure(OpenFailure::Reason::Escapes);
  const std::string relative = relative_to(path, root.canonical());
  const int flags = open_flags(as);
#if KESTRINE_HAVE_OPENAT2
  if (g_mode.load(std::memory_order_relaxed) == BeneathMode::Auto && kernel_has_openat2()) {
    const long fd = call_openat2(root.fd(), relative.c_str(), flags);
    if (fd >= 0) return UniqueFd(static_cast<int>(fd));
    // EPERM: a seccomp filter that refuses the call; let the walk decide.
    if (errno != EPERM) return failure_from_errno(errno);
  }
#endif
  return open_by_components(root, relative, flags);
}

std::expected<std::string, OpenFailure> read_regular_file(int fd, FileIdentity* identity) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return failure(OpenFailure::Reason::System, errno);
  if (S_ISDIR(st.st_mode)) return failure(OpenFailure::Reason::System, EISDIR);
  if (!S_ISREG(st.st_mode)) return failure(OpenFailure::Reason::NotRegular);
  if (identity != nullptr) {
    *identity = FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  }
  // One byte more than the size, so that a file read whole meets its end in
  // the same call: a read that stops short at the size it had is the end
  // (no second call to hear it); a file that grows meanwhile is read to its
  // new end, one whose size says nothing (size 0) until a read gives none.
  const auto size = static_cast<std::size_t>(st.st_size);
  std::string text(size + 1, '\0');
  std::size_t used = 0;
  for (;;) {
    if (used == text.size()) text.resize(text.size() * 2);
    const std::size_t wanted = text.size() - used;
    const ssize_t n = ::read(fd, text.data() + used, wanted);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failure(OpenFailure::Reason::System, errno);
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
    if (used == size && static_cast<std::size_t>(n) < wanted) break;
  }
  text.resize(used);
  return text;
}

// ---- resolving include paths --------------------------------------------

std::expected<std::string, LoadError> resolve_include_path(const IncludeContext& ctx, std::string_view candidate,
                                                           std::string_view shown, std::uint32_t file_id,
                                                           std::span<const IncludeFrame> chain) {
  const auto refuse = [&](IncludeErrorKind kind, std::string message) {
    return std::unexpected(make_load_error(kind, std::move(message), source_name(ctx, file_id), chain));
  };
  const auto outside = [&] { return refuse(IncludeErrorKind::IncludeConfinement, outside_root_message(shown)); };
  const IncludeRoot& root = ctx.root;
  if (!root.usable()) return outside();
  // A path holding NUL is never handed to the system: C would see a shorter
  // path than the one checked.
  const bool nul = holds_nul(candidate);
  const std::string path(candidate);
  if (auto canonical = canonical_path(path)) {
    if (!path_within(*canonical, root.canonical())) return outside();
    return std::move(*canonical);
  }
  std::string absolute = absolute_path(path);
  std::string normalized = normalize_path(absolute);
  if (!path_within(normalized, root.canonical())) return outside();
  // Normalising may drop the component that holds the NUL; the path handed
  // on keeps it, so the read refuses it instead of reading another file.
  if (nul) return absolute;
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    return refuse(IncludeErrorKind::IncludeNotFound, unreadable_file_message(shown, "not found"));
  }
  return normalized;
}

}  // namespace kestrine
