#include "decode/value.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <new>

#include "resolver/resolve.hpp"
#include "util/large_block.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

// ---- arena ------------------------------------------------------------------

struct ValueArena::Chunk {
  Chunk* prev;
  std::size_t size;  // whole allocation, header included
};

namespace {
constexpr std::size_t kHeader = 16;  // sizeof(Chunk) rounded to max_align_t
static_assert(sizeof(void*) * 2 <= kHeader);
constexpr std::size_t kMaxChunk = std::size_t(1) << 20;

inline std::uintptr_t align_up(std::uintptr_t p, std::size_t align) noexcept {
  return (p + (align - 1)) & ~std::uintptr_t(align - 1);
}

}  // namespace

ValueArena::ValueArena(std::size_t first_chunk_bytes) noexcept
    : next_chunk_(first_chunk_bytes < 256 ? 256 : first_chunk_bytes) {}

ValueArena::~ValueArena() { release(); }

ValueArena::ValueArena(ValueArena&& other) noexcept
    : head_(other.head_),
      spare_(other.spare_),
      cursor_(other.cursor_),
      limit_(other.limit_),
      next_chunk_(other.next_chunk_),
      reserved_(other.reserved_) {
  other.head_ = other.spare_ = nullptr;
  other.cursor_ = other.limit_ = nullptr;
  other.reserved_ = 0;
}

ValueArena& ValueArena::operator=(ValueArena&& other) noexcept {
  if (this != &other) {
    release();
    head_ = other.head_;
    spare_ = other.spare_;
    cursor_ = other.cursor_;
    limit_ = other.limit_;
    next_chunk_ = other.next_chunk_;
    reserved_ = other.reserved_;
    other.head_ = other.spare_ = nullptr;
    other.cursor_ = other.limit_ = nullptr;
    other.reserved_ = 0;
  }
  return *this;
}

void ValueArena::release() noexcept {
  release_keeping(0);
}

std::size_t ValueArena::release_keeping(std::size_t keep_bytes) noexcept {
  // The chunks of the trees first, newest (largest) first, then those kept
  // before and not taken since.
  Chunk* const lists[] = {head_, spare_};
  spare_ = nullptr;
  std::size_t kept = 0;
  for (Chunk* c : lists) {
    while (c != nullptr) {
      Chunk* prev = c->prev;
      if (kept + c->size <= keep_bytes) {
        kept += c->size;
        c->prev = spare_;
        spare_ = c;
      } else {
        free_block(c, c->size);  // large chunks are mapped on their own
      }
      c = prev;
    }
  }
  head_ = nullptr;
  cursor_ = limit_ = nullptr;
  reserved_ = 0;
  return kept;
}

ValueArena::Chunk* ValueArena::take_kept_chunk(std::size_t need, std::size_t most) noexcept {
  for (Chunk** link = &spare_; *link != nullptr; link = &(*link)->prev) {
    Chunk* c = *link;
    if (c->size >= need && c->size <= most) {
      *link = c->prev;
      reserved_ += c->size;
      return c;
    }
  }
  return nullptr;
}

ValueArena::Chunk* ValueArena::fresh_chunk(std::size_t size) {
  Chunk* c = nullptr;
  if (size >= kLargeBlockFrom) {
    c = static_cast<Chunk*>(allocate_large(size));
    size = large_block_size(c);
  } else {
    c = static_cast<Chunk*>(::operator new(size));
  }
  c->size = size;
  reserved_ += size;
  return c;
}

void* ValueArena::allocate_slow(std::size_t bytes, std::size_t align) {
  if (align < alignof(std::max_align_t)) align = alignof(std::max_align_t);
  if (bytes > (std::size_t(-1) >> 2)) throw std::bad_alloc();
  const std::size_t need = kHeader + bytes + align;
  if (need > next_chunk_ / 2 && head_ != nullptr) {
    // A large block gets a chunk of its own, kept behind the current one so
    // that the current chunk's free space stays in use; a kept chunk far
    // larger than the block would waste the rest (nothing else goes there).
    Chunk* c = take_kept_chunk(need, 2 * need);
    if (c == nullptr) c = fresh_chunk(need);
    c->prev = head_->prev;
    head_->prev = c;
    return reinterpret_cast<void*>(align_up(reinterpret_cast<std::uintptr_t>(c) + kHeader, align));
  }
  Chunk* c = take_kept_chunk(need);
  if (c == nullptr) {
    std::size_t size = next_chunk_;
    while (size < need) size *= 2;
    if (next_chunk_ < kMaxChunk) next_chunk_ *= 2;
    c = fresh_chunk(size);
  }
  c->prev = head_;
  head_ = c;
  char* base = reinterpret_cast<char*>(c);
  limit_ = base + c->size;
  const std::uintptr_t p = align_up(reinterpret_cast<std::uintptr_t>(base) + kHeader, align);
  cursor_ = reinterpret_cast<char*>(p + bytes);
  return reinterpret_cast<void*>(p);
}

std::string_view ValueArena::copy_text(std::string_view text) {
  if (text.empty()) return {};
  char* p = static_cast<char*>(allocate(text.size(), 1));
  std::memcpy(p, text.data(), text.size());
  return {p, text.size()};
}

YamlValue ValueArena::make_text_value(ValueKind kind, std::string_view text) {
  YamlValue v;
  v.kind = kind;
  if (text.size() < YamlValue::kLongLength) [[likely]] {
    v.len_ = std::uint32_t(text.size());
    v.text_ = text.data();
  } else {
    auto* ref = static_cast<LongRef*>(allocate(sizeof(LongRef), alignof(LongRef)));
    *ref = LongRef{text.data(), text.size()};
    v.len_ = YamlValue::kLongLength;
    v.long_ = ref;
  }
  return v;
}

YamlValue ValueArena::make_array_value(ValueKind kind, void* data, std::size_t count) {
  YamlValue v;
  v.kind = kind;
  if (count < YamlValue::kLongLength) [[likely]] {
    v.len_ = std::uint32_t(count);
    v.items_ = static_cast<YamlValue*>(data);
  } else {
    auto* ref = static_cast<LongRef*>(allocate(sizeof(LongRef), alignof(LongRef)));
    *ref = LongRef{data, count};
    v.len_ = YamlValue::kLongLength;
    v.long_ = ref;
  }
  return v;
}

YamlValue YamlValue::string_literal(std::string_view text) noexcept {
  YamlValue v;
  v.kind = ValueKind::String;
  v.len_ = std::uint32_t(text.size());
  v.text_ = text.data();
  return v;
}

YamlValue ValueArena::make_string(std::string_view text) {
  return make_text_value(ValueKind::String, copy_text(text));
}
YamlValue ValueArena::make_string_ref(std::string_view text) {
  return make_text_value(ValueKind::String, text);
}
YamlValue ValueArena::make_bigint(std::string_view digits) {
  return make_text_value(ValueKind::BigInt, copy_text(digits));
}
YamlValue ValueArena::make_bigint_ref(std::string_view digits) {
  return make_text_value(ValueKind::BigInt, digits);
}

YamlValue ValueArena::make_timestamp(const Timestamp& ts) {
  static_assert(std::is_trivially_destructible_v<Timestamp>);
  void* p = allocate(sizeof(Timestamp), alignof(Timestamp));
  YamlValue v;
  v.kind = ValueKind::Timestamp;
  v.timestamp_ = new (p) Timestamp(ts);
  return v;
}

YamlValue ValueArena::make_sequence(std::span<const YamlValue> items) {
  if (items.empty()) return YamlValue::empty_sequence();
  YamlValue* data = allocate_array<YamlValue>(items.size());
  std::memcpy(static_cast<void*>(data), items.data(), items.size() * sizeof(YamlValue));
  return make_array_value(ValueKind::Sequence, data, items.size());
}

YamlValue ValueArena::make_mapping(std::span<const ValuePair> pairs) {
  if (pairs.empty()) return YamlValue::empty_mapping();
  ValuePair* data = allocate_array<ValuePair>(pairs.size());
  std::memcpy(static_cast<void*>(data), pairs.data(), pairs.size() * sizeof(ValuePair));
  return make_array_value(ValueKind::Mapping, data, pairs.size());
}

YamlValue ValueArena::make_mapping_flat(std::span<const YamlValue> flat) {
  const std::size_t n = flat.size() / 2;
  if (n == 0) return YamlValue::empty_mapping();
  ValuePair* data = allocate_array<ValuePair>(n);
  std::memcpy(static_cast<void*>(data), flat.data(), n * sizeof(ValuePair));
  return make_array_value(ValueKind::Mapping, data, n);
}

YamlValue ValueArena::alloc_sequence(std::size_t n) {
  if (n == 0) return YamlValue::empty_sequence();
  YamlValue* data = allocate_array<YamlValue>(n);
  for (std::size_t i = 0; i < n; ++i) new (data + i) YamlValue();
  return make_array_value(ValueKind::Sequence, data, n);
}

YamlValue ValueArena::alloc_mapping(std::size_t n) {
  if (n == 0) return YamlValue::empty_mapping();
  ValuePair* data = allocate_array<ValuePair>(n);
  for (std::size_t i = 0; i < n; ++i) new (data + i) ValuePair();
  return make_array_value(ValueKind::Mapping, data, n);
}

YamlValue ValueArena::adopt_sequence(YamlValue* items, std::size_t n) {
  if (n == 0) return YamlValue::empty_sequence();
  return make_array_value(ValueKind::Sequence, items, n);
}

YamlValue ValueArena::adopt_mapping(ValuePair* pairs, std::size_t n) {
  if (n == 0) return YamlValue::empty_mapping();
  return make_array_value(ValueKind::Mapping, pairs, n);
}

YamlValue ValueArena::make_tagged(std::string_view tag, YamlValue inner) {
  return make_tagged_ref(copy_text(tag), inner);
}

YamlValue ValueArena::make_tagged_ref(std::string_view tag, YamlValue inner) {
  void* p = allocate(sizeof(TaggedValue), alignof(TaggedValue));
  YamlValue v;
  v.kind = ValueKind::Tagged;
  v.tagged_ = new (p) TaggedValue{tag, inner};
  return v;
}

// ---- builders ---------------------------------------------------------------

YamlValue ValueStack::finish_sequence(ValueArena& arena, std::size_t mark) {
  YamlValue v = arena.make_sequence(above(mark));
  truncate(mark);
  return v;
}

YamlValue ValueStack::finish_mapping(ValueArena& arena, std::size_t mark) {
  YamlValue v = arena.make_mapping_flat(above(mark));
  truncate(mark);
  return v;
}

}  // namespace kestrine
