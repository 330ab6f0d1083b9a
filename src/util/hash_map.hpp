// Hash maps seeded once per process from the operating system's random bytes,
// and safe when memory runs out.
//
// Maps keyed by text read from untrusted input use this seed so that the
// bucket layout cannot be predicted from outside (hash flooding).
//
// absl's flat tables are not exception-safe: a rehash records the new
// capacity before it allocates, and an element whose constructor throws is
// left marked as present; either way a failed allocation leaves a table
// that crashes when it is destroyed.  `SafeTable` (behind SeededHashMap,
// SeededHashSet and FlatHashSet) therefore sets aside the memory of the
// next table before any insertion that may grow it, and builds every
// element before inserting it, so that std::bad_alloc leaves the table as
// it was and only non-throwing moves happen inside it.
//
//   SeededHashMap<std::string, int> counts;
//   counts.try_emplace(text, 0).first->second += 1;   // bad_alloc: unchanged
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
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

namespace detail {

// Sets aside `bytes` for the next table allocation on this thread (throws
// std::bad_alloc, touching no table); what the table did not take is freed
// when it goes.
class GrowthReserve {
 public:
  explicit GrowthReserve(std::size_t bytes);
  ~GrowthReserve();
  GrowthReserve(const GrowthReserve&) = delete;
  GrowthReserve& operator=(const GrowthReserve&) = delete;

 private:
  void* previous_;
  std::size_t previous_bytes_;
};

// A table's memory: the block set aside when it is large enough, else
// fresh memory.
void* allocate_table(std::size_t bytes);

template <class T>
struct TableAllocator {
  using value_type = T;
  using propagate_on_container_move_assignment = std::true_type;
  using propagate_on_container_swap = std::true_type;
  using is_always_equal = std::true_type;
  TableAllocator() noexcept = default;
  template <class U>
  TableAllocator(const TableAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    return static_cast<T*>(allocate_table(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t) noexcept { ::operator delete(static_cast<void*>(p)); }
  friend bool operator==(const TableAllocator&, const TableAllocator&) noexcept { return true; }
};

template <class Table>
concept IsMap = requires {
  typename Table::mapped_type;
};

}  // namespace detail

// An absl flat table (instantiated with TableAllocator) that a failed
// allocation leaves unchanged; see the top of this file.  Only the calls
// that never allocate are passed through as they are.
template <class Table>
class SafeTable : private Table {
 public:
  using Table::begin;
  using Table::capacity;
  using Table::cbegin;
  using Table::cend;
  using Table::contains;
  using Table::count;
  using Table::empty;
  using Table::end;
  using Table::find;
  using Table::size;
  using typename Table::const_iterator;
  using typename Table::iterator;
  using typename Table::key_type;
  using typename Table::value_type;

  SafeTable() noexcept = default;
  SafeTable(SafeTable&&) noexcept = default;
  SafeTable& operator=(SafeTable&&) noexcept = default;
  SafeTable(const SafeTable& other) {
    reserve(other.size());
    for (const value_type& v : other) insert(v);
  }
  SafeTable& operator=(const SafeTable& other) {
    if (this != &other) {
      SafeTable copy(other);
      swap(copy);
    }
    return *this;
  }
  SafeTable(std::initializer_list<value_type> values) {
    reserve(values.size());
    for (const value_type& v : values) insert(v);
  }

  void swap(SafeTable& other) noexcept {
    Table::swap(other);
    std::swap(erased_, other.erased_);
  }
  void clear() noexcept {
    Table::clear();  // tombstones go too
    erased_ = false;
  }
  template <class K>
  std::size_t erase(const K& key) {
    erased_ = true;
    return Table::erase(key);
  }
  void erase(const_iterator it) {
    erased_ = true;
    Table::erase(it);
  }
  void erase(iterator it) {
    erased_ = true;
    Table::erase(it);
  }

  void reserve(std::size_t n) {
    if (n <= size()) return;
    std::size_t target = 1;
    while (target - target / 8 < n) target = target * 2 + 1;
    const detail::GrowthReserve room(table_bytes(target));
    Table::reserve(n);
  }

  // ---- maps ----
  template <class K, class... A>
  requires detail::IsMap<Table> std::pair<iterator, bool> try_emplace(K&& key, A&&... args) {
    using M = typename Table::mapped_type;
    if constexpr (std::is_nothrow_constructible_v<key_type, K&&> && std::is_nothrow_constructible_v<M, A&&...>) {
      const Growth growth(*this);
      return Table::try_emplace(std::forward<K>(key), std::forward<A>(args)...);
    } else {
      if (auto it = Table::find(key); it != end()) return {it, false};
      key_type k(std::forward<K>(key));
      M value(std::forward<A>(args)...);
      const Growth growth(*this);
      return Table::try_emplace(std::move(k), std::move(value));
    }
  }
  template <class K, class V>
  requires detail::IsMap<Table> std::pair<iterator, bool> emplace(K&& key, V&& value) {
    return try_emplace(std::forward<K>(key), std::forward<V>(value));
  }
  template <class K, class V>
  requires detail::IsMap<Table> std::pair<iterator, bool> insert_or_assign(K&& key, V&& value) {
    if (auto it = Table::find(key); it != end()) {
      it->second = std::forward<V>(value);
      return {it, false};
    }
    return try_emplace(std::forward<K>(key), std::forward<V>(value));
  }
  template <class K, class T = Table>
  requires detail::IsMap<T>
  typename T::mapped_type& operator[](K&& key) { return try_emplace(std::forward<K>(key)).first->second; }
  std::pair<iterator, bool> insert(const value_type& v) requires detail::IsMap<Table> {
    return try_emplace(v.first, v.second);
  }
  template <class K>
  requires detail::IsMap<Table>
  decltype(auto) at(const K& key) { return Table::at(key); }
  template <class K>
  requires detail::IsMap<Table>
  decltype(auto) at(const K& key) const { return Table::at(key); }

  // ---- sets ----
  template <class K>
  requires(!detail::IsMap<Table>) std::pair<iterator, bool> insert(K&& key) {
    if constexpr (std::is_nothrow_constructible_v<key_type, K&&>) {
      const Growth growth(*this);
      return Table::insert(key_type(std::forward<K>(key)));
    } else {
      if (auto it = Table::find(key); it != end()) return {it, false};
      key_type k(std::forward<K>(key));
      const Growth growth(*this);
      return Table::insert(std::move(k));
    }
  }
  template <class K>
  requires(!detail::IsMap<Table>) std::pair<iterator, bool> emplace(K&& key) { return insert(std::forward<K>(key)); }

 private:
  static constexpr std::size_t table_bytes(std::size_t capacity) noexcept {
    // Slots, a control byte each, and the cloned control bytes, sentinel and
    // alignment absl adds (under 64 bytes).
    return capacity * (sizeof(value_type) + 1) + 64;
  }

  // Whether inserting one more element may rehash into a larger table.
  // Without erasures a table grows when it reaches 7/8 of its capacity;
  // erased slots count against that until a rehash, which grows the table
  // when it is small or more than 25/32 full (else it only reorders).
  bool may_grow() const noexcept {
    const std::size_t cap = capacity(), n = size();
    if (cap == 0) return true;
    if (erased_ && (cap <= 16 || n * 32 > cap * 25)) return true;
    return n + 1 >= cap - cap / 8;
  }

  // The memory of the next table, set aside while an insertion runs.
  class Growth {
   public:
    explicit Growth(const SafeTable& table) {
      if (table.may_grow()) reserve_.emplace(table_bytes(table.capacity() * 2 + 1));
    }

   private:
    std::optional<detail::GrowthReserve> reserve_;
  };

  bool erased_ = false;
};

template <class K, class V>
using SeededHashMap =
    SafeTable<absl::flat_hash_map<K, V, typename detail::SeededTraits<K>::Hash, typename detail::SeededTraits<K>::Eq,
                                  detail::TableAllocator<std::pair<const K, V>>>>;

template <class K>
using SeededHashSet = SafeTable<absl::flat_hash_set<K, typename detail::SeededTraits<K>::Hash,
                                                    typename detail::SeededTraits<K>::Eq, detail::TableAllocator<K>>>;

// The same without the seed, for keys no input chooses (addresses, numbers
// the system makes).
template <class K>
using FlatHashSet = SafeTable<absl::flat_hash_set<K, absl::Hash<K>, std::equal_to<K>, detail::TableAllocator<K>>>;
template <class K, class V>
using FlatHashMap = SafeTable<
    absl::flat_hash_map<K, V, absl::Hash<K>, std::equal_to<K>, detail::TableAllocator<std::pair<const K, V>>>>;

// The bytes a flat hash map or set holds in its own storage: a slot and a
// control byte for every entry of its capacity (not what the entries own).
template <class Table>
std::size_t table_bytes(const Table& table) noexcept {
  return table.capacity() * (sizeof(typename Table::value_type) + 1);
}

}  // namespace kestrine
