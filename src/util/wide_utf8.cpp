#include "util/wide_utf8.hpp"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrine {
namespace {

// One code point's UTF-8 bytes at `out`; returns the end.
inline char* put_code_point(char* out, std::uint32_t c) noexcept {
  if (c < 0x80) {
    *out = static_cast<char>(c);
    return out + 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return out + 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return out + 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return out + 4;
}

inline bool is_surrogate(std::uint32_t c) noexcept { return c - 0xD800u < 0x800u; }

// The scalar loops, for what the blocks below leave (and without SSE2).
template <class Unit>
std::optional<std::size_t> size_one_by_one(const Unit* units, std::size_t n, std::size_t size) noexcept {
  bool surrogate = false;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t c = units[i];
    size += 1 + static_cast<std::size_t>(c >= 0x80) + static_cast<std::size_t>(c >= 0x800) +
            static_cast<std::size_t>(c >= 0x10000);
    surrogate |= is_surrogate(c);
  }
  if (surrogate) return std::nullopt;
  return size;
}

#if defined(__SSE2__)

// Lanes (16-bit) holding at most `limit`, as all-ones.
inline __m128i at_most_16(__m128i v, int limit) noexcept {
  return _mm_cmpeq_epi16(_mm_subs_epu16(v, _mm_set1_epi16(static_cast<short>(limit))), _mm_setzero_si128());
}

// 8-bit units: one extra byte per unit of 0x80 or more, counted as the
// sign bits of the bytes, summed per lane and folded every 255 blocks.
std::optional<std::size_t> size_of(const std::uint8_t* units, std::size_t n) noexcept {
  std::size_t size = n;
  std::size_t i = 0;
  while (i + 16 <= n) {
    __m128i counts = _mm_setzero_si128();
    for (int blocks = 0; blocks < 255 && i + 16 <= n; ++blocks, i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
      counts = _mm_sub_epi8(counts, _mm_cmplt_epi8(v, _mm_setzero_si128()));
    }
    const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
    size += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
            static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  }
  for (; i < n; ++i) size += units[i] >> 7;
  return size;
}

// 16-bit units: up to two extra bytes each, counted down from two per unit
// by the lanes at most 0x7F and at most 0x7FF (each -1 when true); folded
// before a lane could pass -32768.
std::optional<std::size_t> size_of(const std::uint16_t* units, std::size_t n) noexcept {
  std::size_t size = 0;
  std::size_t i = 0;
  __m128i surrogates = _mm_setzero_si128();
  while (i + 8 <= n) {
    __m128i counts = _mm_setzero_si128();
    std::size_t blocks = 0;
    for (; blocks < 8192 && i + 8 <= n; ++blocks, i += 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
      counts = _mm_add_epi16(counts, _mm_add_epi16(at_most_16(v, 0x7F), at_most_16(v, 0x7FF)));
      surrogates = _mm_or_si128(surrogates, at_most_16(_mm_sub_epi16(v, _mm_set1_epi16(static_cast<short>(0xD800))), 0x7FF));
    }
    const __m128i pairs = _mm_madd_epi16(counts, _mm_set1_epi16(1));
    const __m128i quads = _mm_add_epi32(pairs, _mm_srli_si128(pairs, 8));
    const int sum = _mm_cvtsi128_si32(_mm_add_epi32(quads, _mm_srli_si128(quads, 4)));
    size += 8 * 3 * blocks - static_cast<std::size_t>(-sum);
  }
  if (_mm_movemask_epi8(surrogates) != 0) return std::nullopt;
  return size_one_by_one(units + i, n - i, size);
}

// 32-bit units: four at a time, extra bytes counted as -1 per true lane.
std::optional<std::size_t> size_of(const std::uint32_t* units, std::size_t n) noexcept {
  std::size_t i = 0;
  __m128i extra = _mm_setzero_si128();
  __m128i surrogates = _mm_setzero_si128();
  for (; i + 4 <= n; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
    extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(v, _mm_set1_epi32(0x7F)));
    extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(v, _mm_set1_epi32(0x7FF)));
    extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(v, _mm_set1_epi32(0xFFFF)));
    surrogates = _mm_or_si128(surrogates, _mm_and_si128(_mm_cmpgt_epi32(v, _mm_set1_epi32(0xD7FF)),
                                                        _mm_cmplt_epi32(v, _mm_set1_epi32(0xE000))));
  }
  if (_mm_movemask_epi8(surrogates) != 0) return std::nullopt;
  alignas(16) std::uint32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), extra);
  const std::size_t size = i + lanes[0] + lanes[1] + lanes[2] + lanes[3];
  return size_one_by_one(units + i, n - i, size);
}

#else

template <class Unit>
std::optional<std::size_t> size_of(const Unit* units, std::size_t n) noexcept {
  return size_one_by_one(units, n, 0);
}

#endif

}  // namespace

template <class Unit>
std::optional<std::size_t> wide_utf8_size(const Unit* units, std::size_t n) noexcept {
  return size_of(units, n);
}

template <class Unit>
void write_wide_utf8(const Unit* units, std::size_t n, char* out) noexcept {
  std::size_t i = 0;
#if defined(__SSE2__)
  constexpr std::size_t kBlock = 16 / sizeof(Unit);
  while (i + kBlock <= n) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
    if constexpr (sizeof(Unit) == 1) {
      if (_mm_movemask_epi8(v) == 0) {  // sixteen ASCII characters
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
        out += 16;
        i += 16;
        continue;
      }
    } else if constexpr (sizeof(Unit) == 2) {
      const __m128i ascii = at_most_16(v, 0x7F);
      if (_mm_movemask_epi8(ascii) == 0xFFFF) {  // eight ASCII characters
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(v, v));
        out += 8;
        i += 8;
        continue;
      }
      if (_mm_movemask_epi8(ascii) == 0 && _mm_movemask_epi8(at_most_16(v, 0x7FF)) == 0xFFFF) {
        // Eight two-byte characters: lead byte 110xxxxx, then 10xxxxxx.
        const __m128i lead = _mm_or_si128(_mm_srli_epi16(v, 6), _mm_set1_epi16(0xC0));
        const __m128i tail = _mm_or_si128(_mm_and_si128(v, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(lead, _mm_slli_epi16(tail, 8)));
        out += 16;
        i += 8;
        continue;
      }
    } else {
      if (_mm_movemask_epi8(_mm_cmpgt_epi32(v, _mm_set1_epi32(0x7F))) == 0) {  // four ASCII characters
        const __m128i words = _mm_packs_epi32(v, v);
        const int bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
        std::memcpy(out, &bytes, 4);
        out += 4;
        i += 4;
        continue;
      }
    }
    for (const std::size_t end = i + kBlock; i < end; ++i) out = put_code_point(out, units[i]);
  }
#endif
  for (; i < n; ++i) out = put_code_point(out, units[i]);
}

template std::optional<std::size_t> wide_utf8_size(const std::uint8_t*, std::size_t) noexcept;
template std::optional<std::size_t> wide_utf8_size(const std::uint16_t*, std::size_t) noexcept;
template std::optional<std::size_t> wide_utf8_size(const std::uint32_t*, std::size_t) noexcept;
template void write_wide_utf8(const std::uint8_t*, std::size_t, char*) noexcept;
template void write_wide_utf8(const std::uint16_t*, std::size_t, char*) noexcept;
template void write_wide_utf8(const std::uint32_t*, std::size_t, char*) noexcept;

}  // namespace kestrine
