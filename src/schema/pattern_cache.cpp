#include "schema/pattern_cache.hpp"

#include <cstring>
#include <mutex>

#include "util/repeated_text.hpp"

namespace kestrine {

namespace {

// The process's compiled patterns by text.  Entries are handed out as
// shared pointers, so dropping one from the table never pulls a pattern
// from under a validation that holds it.
class SharedPatterns {
 public:
  std::shared_ptr<const CompiledPattern> get(std::string_view text) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (auto it = entries_.find(text); it != entries_.end()) {
        it->second.last_use = ++clock_;
        return it->second.pattern;
      }
    }
    // Compiled outside the lock: two threads may compile one text at once,
    // and the second simply takes the first one's entry.
    auto compiled = std::make_shared<const CompiledPattern>(compile_schema_pattern(text));
    const std::size_t size = compiled->program ? compiled->program->program_size() : 0;
    if (size > kSharedPatternProgram / 8) return compiled;  // too large to keep
    std::lock_guard<std::mutex> hold(mutex_);
    auto [it, fresh] = entries_.try_emplace(std::string(text));
    if (fresh) {
      it->second = Entry{compiled, size, 0};
      program_ += size;
    }
    it->second.last_use = ++clock_;
    make_room();
    return it->second.pattern;
  }

 private:
  struct Entry {
    std::shared_ptr<const CompiledPattern> pattern;
    std::size_t size = 0;
    std::uint64_t last_use = 0;
  };

  // Drops the least recently used entries until the bounds hold.
  void make_room() {
    while (entries_.size() > kSharedPatternEntries || program_ > kSharedPatternProgram) {
      auto oldest = entries_.begin();
      for (auto it = entries_.begin(); it != entries_.end(); ++it)
        if (it->second.last_use < oldest->second.last_use) oldest = it;
      program_ -= oldest->second.size;
      entries_.erase(oldest);
    }
  }

  std::mutex mutex_;
  SeededHashMap<std::string, Entry> entries_;
  std::size_t program_ = 0;
  std::uint64_t clock_ = 0;
};

SharedPatterns& shared_patterns() {
  static SharedPatterns* patterns = new SharedPatterns();  // never destroyed: usable until exit
  return *patterns;
}

}  // namespace

std::shared_ptr<const CompiledPattern> shared_schema_pattern(std::string_view pattern) {
  return shared_patterns().get(pattern);
}

const CompiledPattern& PatternCache::get(std::string_view pattern) {
  auto it = patterns_.find(pattern);
  if (it == patterns_.end()) it = patterns_.emplace(std::string(pattern), shared_schema_pattern(pattern)).first;
  return *it->second;
}

std::size_t PatternCache::footprint() const noexcept {
  // An instruction of the engine's program, with its share of the compiled
  // matcher around it.
  constexpr std::size_t kBytesPerInstruction = 16;
  std::size_t bytes = table_bytes(patterns_);
  for (const auto& [text, pattern] : patterns_)
    bytes += text.capacity() + pattern->refusal.capacity() +
             (pattern->program ? pattern->program->program_size() * kBytesPerInstruction : 0);
  return bytes;
}

bool PatternMemo::search(const SchemaPattern& pattern, std::string_view text) {
  if (text.size() > kLongestText) return pattern.search(text);
  if (!slots_) {
    if (++searches_ <= kSearchesBeforeTable) return pattern.search(text);
    slots_ = std::make_unique<Slot[]>(kSlots);
  }
  const std::uint64_t key = text_word(text) ^ (reinterpret_cast<std::uintptr_t>(&pattern) >> 4);
  Slot& slot = slots_[(key ^ (key >> 29)) & (kSlots - 1)];
  if (slot.pattern == &pattern && slot.size == text.size() &&
      (text.empty() || std::memcmp(slot.data, text.data(), text.size()) == 0))
    return slot.found;
  const bool found = pattern.search(text);
  slot = Slot{&pattern, text.data(), static_cast<std::uint32_t>(text.size()), found};
  return found;
}

}  // namespace kestrine
