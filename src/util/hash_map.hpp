// Hash maps seeded once per process from the operating system's random bytes.
//
// Maps keyed by text read from untrusted input use this seed so that the
// bucket layout cannot be predicted from outside (hash flooding).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>
#include <absl/hash/hash.h>
#include <absl/strings/string_view.h>

namespace kestrine {

// The process-wide seed: drawn with getrandom(2) on first use, then fixed.
std::uint64_t hash_seed() noexcept;

// absl::Hash mixed with the process seed.  Transparent for text, so a map
// keyed by std::string can be probed with a std::string_view.  Text is
// hashed as absl::string_view: absl hashes std::string_view through
// std::hash, whose fixed function lets colliding keys be precomputed
// whatever the seed.
template <class K>
struct SeededHash {
  std::size_t operator()(const K& key) const noexcept { return absl::HashOf(hash_seed(), key); }
};

// A pair whose second half is text (a file and an anchor name, say).
template <class A>
struct SeededHash<std::pair<A, std::string_view>> {
  std::size_t operator()(const std::pair<A, std::string_view>& key) const noexcept {
    return absl::HashOf(hash_seed(), key.first, absl::string_view(key.second.data(), key.second.size()));
  }
};

struct SeededStringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view key) const noexcept {
    return absl::HashOf(hash_seed(), absl::string_view(key.data(), key.size()));
  }
  std::size_t operator()(const std::string& key) const noexcept { return (*this)(std::string_view(key)); }
  std::size_t operator()(const char* key) const noexcept { return (*this)(std::string_view(key)); }
};

struct StringEq {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept { return a == b; }
};

namespace detail {
template <class K>
struct SeededTraits {
  using Hash = SeededHash<K>;
  using Eq = std::equal_to<K>;
};
template <>
struct SeededTraits<std::string> {
  using Hash = SeededStringHash;
  using Eq = StringEq;
};
template <>
struct SeededTraits<std::string_view> {
  using Hash = SeededStringHash;
  using Eq = StringEq;
};
}  // namespace detail

template <class K, class V>
using SeededHashMap = absl::flat_hash_map<K, V, typename detail::SeededTraits<K>::Hash,
                                          typename detail::SeededTraits<K>::Eq>;

template <class K>
using SeededHashSet =
    absl::flat_hash_set<K, typename detail::SeededTraits<K>::Hash, typename detail::SeededTraits<K>::Eq>;

// The bytes a flat hash map or set holds in its own storage: a slot and a
// control byte for every entry of its capacity (not what the entries own).
template <class Table>
std::size_t table_bytes(const Table& table) noexcept {
  return table.capacity() * (sizeof(typename Table::slot_type) + 1);
}

}  // namespace kestrine
