#include "include/paths.hpp"

#include <algorithm>
#include <vector>

namespace kestrine {
namespace {

std::string_view without_trailing_slashes(std::string_view path) noexcept {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return path;
}

}  // namespace

std::string normalize_path(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  if (!path.empty() && path.front() == '/') out.push_back('/');
  std::size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && path[i] == '/') ++i;
    const std::size_t start = i;
    while (i < path.size() && path[i] != '/') ++i;
    const std::string_view part = path.substr(start, i - start);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      // Everything in `out` is a name or the root: drop the last name.
      if (out.empty() || out == "/") continue;
      const std::size_t slash = out.rfind('/');
      out.resize(slash == std::string::npos ? 0 : slash == 0 ? 1 : slash);
      continue;
    }
    if (!out.empty() && out.back() != '/') out.push_back('/');
    out += part;
  }
  return out;
}

bool path_within(std::string_view path, std::string_view root) noexcept {
  if (root.empty() || !path.starts_with(root)) return false;
  if (path.size() == root.size() || root.back() == '/') return true;
  return path[root.size()] == '/';
}

std::string join_path(std::string_view base, std::string_view name) {
  if (base.empty() || (!name.empty() && name.front() == '/')) return std::string(name);
  std::string out;
  out.reserve(base.size() + 1 + name.size());
  out += base;
  if (out.back() != '/') out.push_back('/');
  out += name;
  return out;
}

std::optional<std::string_view> parent_path(std::string_view path) noexcept {
  path = without_trailing_slashes(path);
  if (path.empty() || path == "/") return std::nullopt;
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::string_view();
  if (slash == 0) return path.substr(0, 1);
  return without_trailing_slashes(path.substr(0, slash));
}

std::string relative_path(std::string_view path, std::string_view base) {
  const auto components = [](std::string_view p) {
    std::vector<std::string_view> out;
    for (std::size_t i = 0; i < p.size();) {
      const std::size_t slash = std::min(p.find('/', i), p.size());
      if (slash > i) out.push_back(p.substr(i, slash - i));
      i = slash + 1;
    }
    return out;
  };
  const std::vector<std::string_view> to = components(path);
  const std::vector<std::string_view> from = components(base);
  std::size_t shared = 0;
  while (shared < to.size() && shared < from.size() && to[shared] == from[shared]) ++shared;
  std::string out;
  for (std::size_t i = shared; i < from.size(); ++i) out += out.empty() ? ".." : "/..";
  for (std::size_t i = shared; i < to.size(); ++i) {
    if (!out.empty()) out.push_back('/');
    out += to[i];
  }
  return out.empty() ? std::string(".") : out;
}

std::string_view file_name_of(std::string_view path) noexcept {
  path = without_trailing_slashes(path);
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace kestrine
