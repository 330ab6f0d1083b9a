// Where validations get their compiled patterns, and the answers they
// already had.
//
// A pattern's meaning is its text, so each text is compiled once for the
// whole process and shared (`shared_schema_pattern`): compiling costs far
// more than validating a small file, and an application validates many
// files against the same schemas.  The shared cache is bounded in entries
// and in program size (least recently used entries go first); a pattern too
// large for it is compiled for the one caller.  It is safe to use from
// several threads at once, and the patterns it hands out are immutable.
// A refused pattern is kept too, with the message that reports it.
//
//   PatternCache patterns;                        // one per compiled schema
//   const CompiledPattern& p = patterns.get(text);
//   PatternMemo memo;                             // one per validation
//   if (p.program && memo.search(*p.program, value)) ...
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "schema/pattern.hpp"
#include "util/hash_map.hpp"

namespace kestrine {

// The compiled form of `pattern`, shared.
std::shared_ptr<const CompiledPattern> shared_schema_pattern(std::string_view pattern);

// Entries and total program size the shared cache keeps.
inline constexpr std::size_t kSharedPatternEntries = 256;
inline constexpr std::size_t kSharedPatternProgram = 1 << 20;

// The patterns one compiled schema uses, each looked up once.  References
// handed out stay valid for the life of the cache.
class PatternCache {
 public:
  const CompiledPattern& get(std::string_view pattern);
  // The bytes of the patterns held (programs estimated from their size),
  // shared ones included.
  std::size_t footprint() const noexcept;

 private:
  SeededHashMap<std::string, std::shared_ptr<const CompiledPattern>> patterns_;
};

// Answers of the searches one validation made, for short texts: names,
// units and enumerated words repeat through a configuration file, and
// looking an answer up costs a fraction of a search.  The texts searched
// must outlive the memo (they are those of the instance being validated).
// A fixed table, allocated once searches are frequent enough to pay for it.
class PatternMemo {
 public:
  PatternMemo() = default;
  PatternMemo(const PatternMemo&) = delete;
  PatternMemo& operator=(const PatternMemo&) = delete;

  bool search(const SchemaPattern& pattern, std::string_view text);

 private:
  struct Slot {
    const SchemaPattern* pattern = nullptr;
    const char* data = nullptr;
    std::uint32_t size = 0;
    bool found = false;
  };
  static constexpr std::size_t kSlots = 512;  // a power of two
  static constexpr std::size_t kLongestText = 64;
  static constexpr std::uint32_t kSearchesBeforeTable = 16;

  std::unique_ptr<Slot[]> slots_;
  std::uint32_t searches_ = 0;
};

}  // namespace kestrine
