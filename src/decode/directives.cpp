#include "decode/directives.hpp"

#include <cstring>

#include "resolver/resolve.hpp"
#include "util/try.hpp"
#include "util/white_space.hpp"

namespace kestrine {
namespace {

bool all_ascii_digits(std::string_view s) noexcept {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string_view concat(ValueArena& arena, std::string_view a, std::string_view b) {
  const std::size_t n = a.size() + b.size();
  if (n == 0) return std::string_view("", 0);
  char* p = arena.allocate_array<char>(n);
  std::memcpy(p, a.data(), a.size());
  if (!b.empty()) std::memcpy(p + a.size(), b.data(), b.size());
  return {p, n};
}

}  // namespace

std::vector<std::string_view> split_directive_words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  const std::size_t n = line.size();
  while (i < n) {
    std::size_t w;
    while (i < n && (w = white_space_at(line, i)) != 0) i += w;
    if (i >= n) break;
    const std::size_t start = i;
    while (i < n && white_space_at(line, i) == 0) ++i;
    words.push_back(line.substr(start, i - start));
  }
  return words;
}

bool valid_yaml_version(std::string_view v) noexcept {
  const std::size_t dot = v.find('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view major = v.substr(0, dot), minor = v.substr(dot + 1);
  return all_ascii_digits(major) && all_ascii_digits(minor);  // a second "." fails the digit test
}

bool is_custom_tag(std::string_view tag) noexcept { return !is_core_tag(tag); }

const std::string_view* TagHandles::find(std::string_view handle) const noexcept {
  const auto it = handles_.find(handle);
  return it == handles_.end() ? nullptr : &it->second;
}

bool TagHandles::add(std::string_view handle, std::string_view prefix) {
  return handles_.try_emplace(handle, prefix).second;
}

std::expected<TagExpansion, std::string_view> TagHandles::expand(std::string_view t) const {
  const auto by = [](const std::string_view* prefix, std::string_view suffix) {
    return TagExpansion{*prefix, suffix, true};
  };
  const TagExpansion as_written{t, {}, false};
  if (t.size() < 2 || t[0] != '!') {
    if (t == "!") {
      if (const std::string_view* p = find("!")) return by(p, {});
    }
    return as_written;
  }
  if (t[1] == '<') return as_written;  // verbatim
  if (t[1] == '!') {
    if (const std::string_view* p = find("!!")) return by(p, t.substr(2));
    return as_written;
  }
  const std::size_t bang = t.find('!', 1);
  if (bang != std::string_view::npos) {
    const std::string_view handle = t.substr(0, bang + 1);
    const std::string_view* p = find(handle);
    if (p == nullptr) return std::unexpected(handle);
    return by(p, t.substr(bang + 1));
  }
  if (const std::string_view* p = find("!")) return by(p, t.substr(1));
  return as_written;
}

std::expected<std::string_view, std::string_view> TagHandles::resolve(std::string_view t,
                                                                      ValueArena& arena) const {
  KESTRINE_ASSIGN_OR_RETURN(const TagExpansion x, expand(t));
  if (!x.expanded) return t;
  return concat(arena, x.prefix, x.suffix);
}

std::string unknown_alias_message(std::span<const SpannedEvent> events, std::size_t alias) {
  const std::string_view name = events[alias].text();
  std::string message = "unknown alias: *" + std::string(name);
  for (std::size_t i = alias; i-- > 0;) {
    const EventKind kind = events[i].kind;
    if (kind == EventKind::DocumentStart || kind == EventKind::DocumentEnd || kind == EventKind::StreamStart) break;
    // Not complete (else the alias would have found it) and before the
    // alias: the node it anchors encloses the alias.
    if (kind == EventKind::Anchor && events[i].text() == name) {
      message += " (the alias refers to the node that contains it)";
      break;
    }
  }
  return message;
}

const char* block_sequence_content_message(const SpannedEvent& event) noexcept {
  // A block "- " at a deeper column than its sequence's opens a sequence
  // of its own there, which no item introduces.
  return event.kind == EventKind::SequenceStart && !event.flow ? "a sequence entry is indented past its sequence"
                                                               : "unexpected content after a block sequence item";
}

std::string undefined_tag_handle_message(std::string_view handle) {
  return "undefined tag handle: " + std::string(handle);
}

std::expected<std::size_t, DirectiveError> read_directive_run(std::span<const SpannedEvent> events,
                                                              std::size_t first, TagHandles& handles) {
  auto fail = [](std::string message, std::size_t at) {
    return std::unexpected(DirectiveError{std::move(message), at});
  };
  bool version_seen = false;
  std::size_t i = first;
  for (; i < events.size() && events[i].kind == EventKind::Directive; ++i) {
    const std::vector<std::string_view> words = split_directive_words(events[i].text());
    if (words.empty()) continue;
    if (words[0] == "YAML") {
      if (words.size() < 2 || words[1].front() == '#' || !valid_yaml_version(words[1]) ||
          (words.size() > 2 && words[2].front() != '#'))
        return fail("invalid %YAML directive", i);
      if (version_seen) return fail("duplicate %YAML directive", i);
      version_seen = true;
    } else if (words[0] == "TAG") {
      if (words.size() < 3) continue;
      const std::string_view handle = words[1], prefix = words[2];
      if (handle.front() != '!' || handle.back() != '!') continue;
      if (!handles.add(handle, prefix))
        return fail("duplicate %TAG directive for handle '" + std::string(handle) + "'", i);
    }
    // Other directives are reserved and ignored.
  }
  if (i >= events.size() || events[i].kind != EventKind::DocumentStart)
    return fail("directive must be followed by a document start (---)", first);
  return i;
}

}  // namespace kestrine
