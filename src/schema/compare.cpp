#include "schema/compare.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "resolver/resolve.hpp"
#include "util/hash_map.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

namespace {

bool is_number(const YamlValue& v) noexcept {
  return v.kind == ValueKind::Int || v.kind == ValueKind::BigInt || v.kind == ValueKind::Float;
}

// Two integers in any of their forms.
bool integers_equal(const YamlValue& a, const YamlValue& b) {
  const std::optional<__int128> x = numeric_value(a);
  const std::optional<__int128> y = numeric_value(b);
  if (x || y) return x && y && *x == *y;
  return canonical_bigint_text(a.text()) == canonical_bigint_text(b.text());
}

bool entries_found_in(std::span<const ValuePair> from, std::span<const ValuePair> in);

bool mappings_equal(const YamlValue& a, const YamlValue& b) {
  const auto pa = a.pairs();
  const auto pb = b.pairs();
  if (pa.size() != pb.size()) return false;
  return entries_found_in(pa, pb) && entries_found_in(pb, pa);
}

bool equal_step(const YamlValue& a, const YamlValue& b) {
  if (a.kind == ValueKind::Int && b.kind == ValueKind::Float)
    return static_cast<double>(a.integer) == b.real;
  if (a.kind == ValueKind::Float && b.kind == ValueKind::Int)
    return a.real == static_cast<double>(b.integer);
  const bool a_integer = a.kind == ValueKind::Int || a.kind == ValueKind::BigInt;
  const bool b_integer = b.kind == ValueKind::Int || b.kind == ValueKind::BigInt;
  if (a_integer && b_integer) return a.kind == ValueKind::Int && b.kind == ValueKind::Int
                                         ? a.integer == b.integer
                                         : integers_equal(a, b);
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case ValueKind::Null:
      return true;
    case ValueKind::Bool:
      return a.boolean == b.boolean;
    case ValueKind::Float:
      return a.real == b.real;
    case ValueKind::String:
      return a.text() == b.text();
    case ValueKind::Timestamp:
      return a.timestamp() == b.timestamp();
    case ValueKind::Tagged:
      return a.tagged().tag == b.tagged().tag && schema_values_equal(a.tagged().inner, b.tagged().inner);
    case ValueKind::Sequence: {
      const auto ia = a.items();
      const auto ib = b.items();
      if (ia.size() != ib.size()) return false;
      for (std::size_t i = 0; i < ia.size(); ++i)
        if (!schema_values_equal(ia[i], ib[i])) return false;
      return true;
    }
    case ValueKind::Mapping:
      return mappings_equal(a, b);
    default:
      return false;
  }
}

// ---- hashing consistent with schema_values_equal ---------------------------

std::uint64_t mix(std::uint64_t h, std::uint64_t x) noexcept {
  return absl::HashOf(h, x);
}

std::uint64_t double_hash(double d) noexcept {
  if (std::isnan(d)) return 0x7ff8dead;  // equal to nothing: any value will do
  if (d == 0) d = 0;                     // -0.0 equals 0.0
  return absl::HashOf(hash_seed(), d);
}

std::uint64_t value_hash(const YamlValue& v);

std::uint64_t entry_hash(const ValuePair& p) { return mix(value_hash(p.key), value_hash(p.value)); }

std::uint64_t value_hash_step(const YamlValue& v) {
  switch (v.kind) {
    case ValueKind::Null:
      return 0x6e756c6c;
    case ValueKind::Bool:
      return v.boolean ? 0x74727565 : 0x66616c73;
    case ValueKind::Int:
      return double_hash(static_cast<double>(v.integer));
    case ValueKind::BigInt: {
      // An Int can only equal a big integer that fits 64 bits; hash such
      // values as the Int would be hashed.
      const std::optional<__int128> n = numeric_value(v);
      if (n && *n >= std::numeric_limits<std::int64_t>::min() && *n <= std::numeric_limits<std::int64_t>::max())
        return double_hash(static_cast<double>(static_cast<std::int64_t>(*n)));
      return SeededStringHash{}(canonical_bigint_text(v.text()));
    }
    case ValueKind::Float:
      return double_hash(v.real);
    case ValueKind::String:
      return SeededStringHash{}(v.text());
    case ValueKind::Timestamp:
      return SeededStringHash{}(format_timestamp(v.timestamp()));
    case ValueKind::Tagged:
      return mix(SeededStringHash{}(v.tagged().tag), value_hash(v.tagged().inner));
    case ValueKind::Sequence: {
      std::uint64_t h = 0x5e9;
      for (const YamlValue& item : v.items()) h = mix(h, value_hash(item));
      return h;
    }
    case ValueKind::Mapping: {
      // Equal mappings hold the same set of entries, whatever their order
      // and multiplicity: hash the set.
      std::vector<std::uint64_t> entries;
      entries.reserve(v.size());
      for (const ValuePair& p : v.pairs()) entries.push_back(entry_hash(p));
      std::sort(entries.begin(), entries.end());
      entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
      std::uint64_t h = 0x3a9;
      for (std::uint64_t e : entries) h = mix(h, e);
      return h;
    }
  }
  return 0;
}

std::uint64_t value_hash(const YamlValue& v) {
  if (v.kind != ValueKind::Sequence && v.kind != ValueKind::Mapping && v.kind != ValueKind::Tagged)
    return value_hash_step(v);
  return stack_guarded([&] { return value_hash_step(v); });
}

// Each entry of `from` has an equal entry in `in`.  Small mappings compare
// every pair; larger ones look entries up by hash first.
bool entries_found_in(std::span<const ValuePair> from, std::span<const ValuePair> in) {
  const auto same = [](const ValuePair& x, const ValuePair& y) {
    return schema_values_equal(x.key, y.key) && schema_values_equal(x.value, y.value);
  };
  if (from.size() <= 8) {
    return std::all_of(from.begin(), from.end(), [&](const ValuePair& x) {
      return std::any_of(in.begin(), in.end(), [&](const ValuePair& y) { return same(x, y); });
    });
  }
  SeededHashMap<std::uint64_t, std::vector<std::size_t>> index;
  for (std::size_t i = 0; i < in.size(); ++i) index[entry_hash(in[i])].push_back(i);
  for (const ValuePair& x : from) {
    const auto it = index.find(entry_hash(x));
    if (it == index.end()) return false;
    if (std::none_of(it->second.begin(), it->second.end(), [&](std::size_t j) { return same(x, in[j]); }))
      return false;
  }
  return true;
}

template <class T>
bool has_adjacent_equal(std::vector<T>& values) {
  std::sort(values.begin(), values.end());
  return std::adjacent_find(values.begin(), values.end()) != values.end();
}

// Numbers that share a hash: mostly one double value, which distinct
// integers may share in any number, so they are sorted rather than compared
// pair by pair.
bool numbers_have_equal(std::span<const YamlValue* const> numbers) {
  std::vector<double> floats, int_doubles;
  std::vector<__int128> integers;
  std::vector<std::string> big_texts;
  for (const YamlValue* v : numbers) {
    if (v->kind == ValueKind::Float) {
      if (!std::isnan(v->real)) floats.push_back(v->real);
      continue;
    }
    if (v->kind == ValueKind::Int) int_doubles.push_back(static_cast<double>(v->integer));
    if (const std::optional<__int128> n = numeric_value(*v)) integers.push_back(*n);
    else big_texts.push_back(canonical_bigint_text(v->text()));
  }
  if (has_adjacent_equal(floats) || has_adjacent_equal(integers) || has_adjacent_equal(big_texts)) return true;
  std::sort(int_doubles.begin(), int_doubles.end());
  return std::any_of(floats.begin(), floats.end(), [&](double f) {
    return std::binary_search(int_doubles.begin(), int_doubles.end(), f);
  });
}

bool any_pair_equal(std::span<const YamlValue* const> values) {
  for (std::size_t i = 0; i < values.size(); ++i)
    for (std::size_t j = i + 1; j < values.size(); ++j)
      if (schema_values_equal(*values[i], *values[j])) return true;
  return false;
}

}  // namespace

std::optional<double> number_as_f64(const YamlValue& value) {
  switch (value.kind) {
    case ValueKind::Int:
      return static_cast<double>(value.integer);
    case ValueKind::Float:
      return value.real;
    case ValueKind::BigInt:
      break;
    default:
      return std::nullopt;
  }
  std::string digits;
  for (char c : value.text())
    if (c != '_') digits += c;
  std::string_view text = digits;
  if (text.starts_with('+')) text.remove_prefix(1);
  double d = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
  if (ec == std::errc::result_out_of_range && end == text.data() + text.size())
    return text.starts_with('-') ? -HUGE_VAL : HUGE_VAL;
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return d;
}

std::optional<__int128> numeric_value(const YamlValue& value) {
  if (value.kind == ValueKind::Int) return value.integer;
  if (value.kind != ValueKind::BigInt) return std::nullopt;
  std::string_view text = value.text();
  const bool negative = text.starts_with('-');
  if (negative || text.starts_with('+')) text.remove_prefix(1);
  // Accumulated as a negative number: its range reaches one further.
  constexpr __int128 kMin = static_cast<__int128>(static_cast<unsigned __int128>(1) << 127);
  __int128 n = 0;
  bool any = false;
  for (char c : text) {
    if (c == '_') continue;
    if (c < '0' || c > '9') return std::nullopt;
    const int d = c - '0';
    if (n < (kMin + d) / 10) return std::nullopt;
    n = n * 10 - d;
    any = true;
  }
  if (!any) return std::nullopt;
  if (negative) return n;
  if (n == kMin) return std::nullopt;
  return -n;
}

bool schema_values_equal(const YamlValue& a, const YamlValue& b) {
  const bool nested = a.kind == ValueKind::Sequence || a.kind == ValueKind::Mapping || a.kind == ValueKind::Tagged;
  if (!nested) return equal_step(a, b);
  return stack_guarded([&] { return equal_step(a, b); });
}

bool has_equal_items(std::span<const YamlValue> items) {
  std::vector<const YamlValue*> all;
  all.reserve(items.size());
  for (const YamlValue& item : items) all.push_back(&item);
  if (all.size() <= 16) return any_pair_equal(all);

  std::vector<std::pair<std::uint64_t, const YamlValue*>> hashed;
  hashed.reserve(all.size());
  for (const YamlValue* item : all) hashed.emplace_back(value_hash(*item), item);
  std::sort(hashed.begin(), hashed.end(),
            [](const auto& x, const auto& y) { return x.first < y.first; });
  std::vector<const YamlValue*> numbers, others;
  for (std::size_t begin = 0; begin < hashed.size();) {
    std::size_t end = begin + 1;
    while (end < hashed.size() && hashed[end].first == hashed[begin].first) ++end;
    if (end - begin > 1) {
      numbers.clear();
      others.clear();
      for (std::size_t i = begin; i < end; ++i)
        (is_number(*hashed[i].second) ? numbers : others).push_back(hashed[i].second);
      if (numbers_have_equal(numbers) || any_pair_equal(others)) return true;
    }
    begin = end;
  }
  return false;
}

}  // namespace kestrine
