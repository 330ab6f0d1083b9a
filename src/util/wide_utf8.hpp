// UTF-8 from text stored one code point per fixed-width unit: 8, 16 or 32
// bits, the three layouts of a Python str (this code knows nothing of
// Python; ffi/convert/encode.cpp hands it the str's storage).
//
//   const std::uint16_t* units = ...;              // n code points
//   std::optional<std::size_t> size = wide_utf8_size(units, n);
//   if (!size) ...                                 // a lone surrogate
//   std::string out(*size, '\0');
//   write_wide_utf8(units, n, out.data());
//
// Sizes are counted sixteen bytes of storage at a time; writing copies runs
// of ASCII (and, for 16-bit units, runs of two-byte characters) a block at
// a time and the rest one code point at a time.  Units must hold code
// points (at most U+10FFFF); surrogates U+D800..U+DFFF have no UTF-8 form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kestrine {

// The number of UTF-8 bytes of the n code points at `units`; nothing when
// one of them is a surrogate.
template <class Unit>
std::optional<std::size_t> wide_utf8_size(const Unit* units, std::size_t n) noexcept;

// Writes their UTF-8 form (wide_utf8_size bytes, no surrogates) at `out`.
template <class Unit>
void write_wide_utf8(const Unit* units, std::size_t n, char* out) noexcept;

extern template std::optional<std::size_t> wide_utf8_size(const std::uint8_t*, std::size_t) noexcept;
extern template std::optional<std::size_t> wide_utf8_size(const std::uint16_t*, std::size_t) noexcept;
extern template std::optional<std::size_t> wide_utf8_size(const std::uint32_t*, std::size_t) noexcept;
extern template void write_wide_utf8(const std::uint8_t*, std::size_t, char*) noexcept;
extern template void write_wide_utf8(const std::uint16_t*, std::size_t, char*) noexcept;
extern template void write_wide_utf8(const std::uint32_t*, std::size_t, char*) noexcept;

}  // namespace kestrine
