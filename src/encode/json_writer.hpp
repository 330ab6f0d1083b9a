// JSON text writer for value trees: the body of `to_json`.
//
// Kinds JSON lacks are written in fixed ways: tags are dropped, NaN and the
// infinities become null, timestamps become strings, scalar mapping keys
// become their text.  A collection used as a mapping key is the one error.
// Runs without the interpreter lock; appends to one sink (util/text_sink.hpp);
// key texts of non-string keys go to a scratch buffer reused for the whole
// call.  Members are written as they come unless sorted, when an object's
// key texts are gathered and sorted first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <expected>
#include <string>
#include <string_view>

#include "decode/value.hpp"
#include "util/text_sink.hpp"
#include "util/unaligned.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrine {

struct JsonOptions {
  std::uint64_t indent = 0;  // spaces per level; 0: compact
  bool sort_keys = false;    // members sorted by key text (stable)

  // OPT_INDENT_4 gives 4, else OPT_INDENT_2 gives 2; OPT_SORT_KEYS.
  static JsonOptions from_option_bits(std::uint64_t option) noexcept;
};

inline constexpr std::string_view kJsonCollectionKeyError =
    "a collection cannot be a JSON object key";

// Appends the JSON text of `value` at nesting `level` (the root is 0); false
// when a collection is used as a key (kJsonCollectionKeyError).  On error the
// partial output is left for the caller to discard; a failing object writes
// nothing of itself.
bool write_json_value(TextSink& out, const YamlValue& value, const JsonOptions& options, std::size_t level = 0);
std::expected<void, std::string> write_json_value(std::string& out, const YamlValue& value,
                                                  const JsonOptions& options,
                                                  std::size_t level = 0);
// The document as a fresh text, or the error message.
std::expected<std::string, std::string> dump_json(const YamlValue& root,
                                                  const JsonOptions& options);

// NaN and the infinities give "null"; any finite value its YAML float text.
void write_json_float(TextSink& out, double value);
// The length of the longest prefix of `text` that write_json_string copies
// unchanged (no byte of it needs an escape).
inline std::size_t json_plain_prefix(std::string_view text) noexcept;
// A JSON string literal, escaping quotes, backslashes, controls, U+2028 and
// U+2029; everything else (DEL and non-ASCII included) is written unchanged.
inline void write_json_string(TextSink& out, std::string_view text);
void write_json_string(std::string& out, std::string_view text);
// The member name of a key (tags unwrapped) appended to `out`: a string's
// own text, else the text of the scalar; false for a collection.
bool append_json_key_text(std::string& out, const YamlValue& key);

// The layout around the items of an array or object at `level`: what comes
// before an item (a comma unless it is the first, then with indentation a
// line break and the item's indentation), before a member's value (the item
// start, the quoted key, a colon, and with indentation a space), and the
// closing bracket (with indentation on a line of its own).
void write_json_item_start(TextSink& out, bool first, const JsonOptions& options, std::size_t level);
inline void write_json_member_name(TextSink& out, std::string_view key, bool first, const JsonOptions& options,
                                   std::size_t level);
inline void write_json_close(TextSink& out, char bracket, const JsonOptions& options, std::size_t level);

// ---- inline fast paths -------------------------------------------------------

namespace json_detail {

// Bytes that may need escaping in a JSON string: controls, '"', '\\' and
// 0xE2 (the lead byte of U+2028 and U+2029).
inline constexpr std::array<bool, 256> kEscapeByte = [] {
  std::array<bool, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = true;
  t['"'] = t['\\'] = t[0xE2] = true;
  return t;
}();

#if defined(__SSE2__)
// One bit per byte of `v` that needs an escape.
inline unsigned escape_mask(__m128i v) noexcept {
  const __m128i controls = _mm_set1_epi8(0x1F);  // unsigned <= 0x1F
  const __m128i hits = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, controls), controls), _mm_cmpeq_epi8(v, _mm_set1_epi8('"'))),
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\\')), _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xE2)))));
  return static_cast<unsigned>(_mm_movemask_epi8(hits));
}

// The first set bit of a mask over the bytes [0, half) and [n - half, n)
// of a text, loaded side by side; n when none is set.
inline std::size_t first_hit(unsigned mask, unsigned half, std::size_t n) noexcept {
  const unsigned low = (1u << half) - 1;
  if (const unsigned head = mask & low) return static_cast<std::size_t>(__builtin_ctz(head));
  const unsigned tail = (mask >> half) & low;
  return tail != 0 ? n - half + static_cast<std::size_t>(__builtin_ctz(tail)) : n;
}
#endif

}  // namespace json_detail

// The escaping tail of write_json_string (from the first byte to escape).
void write_json_string_escaped(TextSink& out, std::string_view text, std::size_t plain);
void write_json_member_name_slow(TextSink& out, std::string_view key, bool first, const JsonOptions& options,
                                 std::size_t level);
void write_json_close_indented(TextSink& out, char bracket, const JsonOptions& options, std::size_t level);

[[gnu::always_inline]] inline std::size_t json_plain_prefix(std::string_view text) noexcept {
  const std::size_t n = text.size();
  const char* p = text.data();
#if defined(__SSE2__)
  // Sixteen bytes at a time, the last block overlapping the one before;
  // short texts as two overlapping halves.  Nothing is read past the text.
  using json_detail::escape_mask;
  if (n >= 16) {
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
      if (const unsigned mask = escape_mask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i))))
        return i + static_cast<std::size_t>(__builtin_ctz(mask));
    }
    if (i == n) return n;
    const unsigned mask = escape_mask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 16))) >> (16 - (n - i));
    return mask != 0 ? i + static_cast<std::size_t>(__builtin_ctz(mask)) : n;
  }
  if (n >= 8) {
    std::uint64_t head, tail;
    std::memcpy(&head, p, 8);
    std::memcpy(&tail, p + n - 8, 8);
    return json_detail::first_hit(
        escape_mask(_mm_set_epi64x(static_cast<long long>(tail), static_cast<long long>(head))), 8, n);
  }
  if (n >= 4) {
    std::uint32_t head, tail;
    std::memcpy(&head, p, 4);
    std::memcpy(&tail, p + n - 4, 4);
    return json_detail::first_hit(escape_mask(_mm_set_epi32(0, 0, static_cast<int>(tail), static_cast<int>(head))), 4,
                                  n);
  }
#endif
  std::size_t i = 0;
  while (i < n && !json_detail::kEscapeByte[static_cast<unsigned char>(p[i])]) ++i;
  return i;
}

[[gnu::always_inline]] inline void write_json_string(TextSink& out, std::string_view text) {
  const std::size_t n = text.size();
  const std::size_t plain = json_plain_prefix(text);
  if (plain != n) [[unlikely]] {
    write_json_string_escaped(out, text, plain);
    return;
  }
  char* q = out.reserve(n + 2);
  q[0] = '"';
  copy_bytes(q + 1, text.data(), n);
  q[n + 1] = '"';
  out.commit(q + n + 2);
}

[[gnu::always_inline]] inline void write_json_member_name(TextSink& out, std::string_view key, bool first,
                                                          const JsonOptions& options, std::size_t level) {
  if (options.indent != 0 || json_plain_prefix(key) != key.size()) [[unlikely]] {
    write_json_member_name_slow(out, key, first, options, level);
    return;
  }
  // `,"key":` in one write
  const std::size_t n = key.size();
  const std::size_t comma = first ? 0 : 1;
  char* q = out.reserve(n + 4);
  q[0] = ',';
  q += comma;
  q[0] = '"';
  copy_bytes(q + 1, key.data(), n);
  q[n + 1] = '"';
  q[n + 2] = ':';
  out.commit(q + n + 3);
}

inline void write_json_close(TextSink& out, char bracket, const JsonOptions& options, std::size_t level) {
  if (options.indent != 0) [[unlikely]] {
    write_json_close_indented(out, bracket, options, level);
    return;
  }
  out.push_back(bracket);
}

}  // namespace kestrine
