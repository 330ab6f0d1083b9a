#include "decode/value.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <new>

#include "resolver/resolve.hpp"
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
      cursor_(other.cursor_),
      limit_(other.limit_),
      next_chunk_(other.next_chunk_),
      reserved_(other.reserved_) {
  other.head_ = nullptr;
  other.cursor_ = other.limit_ = nullptr;
  other.reserved_ = 0;
}

ValueArena& ValueArena::operator=(ValueArena&& other) noexcept {
  if (this != &other) {
    release();
    head_ = other.head_;
    cursor_ = other.cursor_;
    limit_ = other.limit_;
    next_chunk_ = other.next_chunk_;
    reserved_ = other.reserved_;
    other.head_ = nullptr;
    other.cursor_ = other.limit_ = nullptr;
    other.reserved_ = 0;
  }
  return *this;
}

void ValueArena::release() noexcept {
  Chunk* c = head_;
  while (c != nullptr) {
    Chunk* prev = c->prev;
    ::operator delete(static_cast<void*>(c));
    c = prev;
  }
  head_ = nullptr;
  cursor_ = limit_ = nullptr;
  reserved_ = 0;
}

void* ValueArena::allocate(std::size_t bytes, std::size_t align) {
  const std::uintptr_t p = align_up(reinterpret_cast<std::uintptr_t>(cursor_), align);
  if (cursor_ != nullptr && p <= reinterpret_cast<std::uintptr_t>(limit_) &&
      bytes <= std::size_t(reinterpret_cast<std::uintptr_t>(limit_) - p)) [[likely]] {
    cursor_ = reinterpret_cast<char*>(p + bytes);
    return reinterpret_cast<void*>(p);
  }
  return allocate_slow(bytes, align);
}

void* ValueArena::allocate_slow(std::size_t bytes, std::size_t align) {
  if (align < alignof(std::max_align_t)) align = alignof(std::max_align_t);
  if (bytes > (std::size_t(-1) >> 2)) throw std::bad_alloc();
  const std::size_t need = kHeader + bytes + align;
  if (need > next_chunk_ / 2 && head_ != nullptr) {
    // A large block gets a chunk of its own, kept behind the current one so
    // that the current chunk's free space stays in use.
    auto* c = static_cast<Chunk*>(::operator new(need));
    c->size = need;
    c->prev = head_->prev;
    head_->prev = c;
    reserved_ += need;
    return reinterpret_cast<void*>(align_up(reinterpret_cast<std::uintptr_t>(c) + kHeader, align));
  }
  std::size_t size = next_chunk_;
  while (size < need) size *= 2;
  if (next_chunk_ < kMaxChunk) next_chunk_ *= 2;
  auto* c = static_cast<Chunk*>(::operator new(size));
  c->size = size;
  c->prev = head_;
  head_ = c;
  reserved_ += size;
  char* base = reinterpret_cast<char*>(c);
  limit_ = base + size;
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

// ---- whole-tree operations ----------------------------------------------------

std::uint64_t count_value_nodes(const YamlValue& value) {
  std::uint64_t count = 0;
  std::vector<const YamlValue*> stack;
  stack.reserve(32);
  stack.push_back(&value);
  while (!stack.empty()) {
    const YamlValue* v = stack.back();
    stack.pop_back();
    ++count;
    switch (v->kind) {
      case ValueKind::Sequence:
        for (const YamlValue& item : v->items()) stack.push_back(&item);
        break;
      case ValueKind::Mapping:
        for (const ValuePair& pair : v->pairs()) {
          stack.push_back(&pair.key);
          stack.push_back(&pair.value);
        }
        break;
      case ValueKind::Tagged:
        stack.push_back(&v->tagged().inner);
        break;
      default:
        break;
    }
  }
  return count;
}

void drop_value_tree(ValueArena&& arena) noexcept { arena.release(); }

void drop_value_tree(ValueTree&& tree) noexcept {
  tree.root = YamlValue::null();
  tree.arena.release();
}

YamlValue deep_copy_value(ValueArena& dest, const YamlValue& value, TextCopy texts) {
  struct Work {
    const YamlValue* src;
    YamlValue* dst;
  };
  YamlValue result;
  std::vector<Work> stack;
  stack.reserve(32);
  stack.push_back({&value, &result});
  const bool copy_texts = texts == TextCopy::Copy;
  while (!stack.empty()) {
    const Work w = stack.back();
    stack.pop_back();
    const YamlValue& src = *w.src;
    switch (src.kind) {
      case ValueKind::String:
        *w.dst = copy_texts ? dest.make_string(src.text()) : dest.make_string_ref(src.text());
        break;
      case ValueKind::BigInt:
        *w.dst = copy_texts ? dest.make_bigint(src.text()) : dest.make_bigint_ref(src.text());
        break;
      case ValueKind::Timestamp:
        *w.dst = copy_texts ? dest.make_timestamp(src.timestamp()) : src;
        break;
      case ValueKind::Sequence: {
        const auto items = src.items();
        if (items.empty()) {
          *w.dst = YamlValue::empty_sequence();
          break;
        }
        YamlValue* arr = dest.allocate_array<YamlValue>(items.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
          new (arr + i) YamlValue();
          stack.push_back({&items[i], &arr[i]});
        }
        *w.dst = dest.adopt_sequence(arr, items.size());
        break;
      }
      case ValueKind::Mapping: {
        const auto pairs = src.pairs();
        if (pairs.empty()) {
          *w.dst = YamlValue::empty_mapping();
          break;
        }
        ValuePair* arr = dest.allocate_array<ValuePair>(pairs.size());
        for (std::size_t i = 0; i < pairs.size(); ++i) {
          new (arr + i) ValuePair();
          stack.push_back({&pairs[i].key, &arr[i].key});
          stack.push_back({&pairs[i].value, &arr[i].value});
        }
        *w.dst = dest.adopt_mapping(arr, pairs.size());
        break;
      }
      case ValueKind::Tagged: {
        const TaggedValue& t = src.tagged();
        *w.dst = copy_texts ? dest.make_tagged(t.tag, YamlValue::null())
                            : dest.make_tagged_ref(t.tag, YamlValue::null());
        stack.push_back({&t.inner, &w.dst->tagged().inner});
        break;
      }
      default:
        *w.dst = src;
        break;
    }
  }
  return result;
}

bool values_equal(const YamlValue& a, const YamlValue& b) {
  std::vector<std::pair<const YamlValue*, const YamlValue*>> stack;
  stack.emplace_back(&a, &b);
  while (!stack.empty()) {
    auto [x, y] = stack.back();
    stack.pop_back();
    if (x->kind != y->kind) return false;
    switch (x->kind) {
      case ValueKind::Null:
        break;
      case ValueKind::Bool:
        if (x->boolean != y->boolean) return false;
        break;
      case ValueKind::Int:
        if (x->integer != y->integer) return false;
        break;
      case ValueKind::Float:
        if (!(x->real == y->real)) return false;
        break;
      case ValueKind::BigInt:
      case ValueKind::String:
        if (x->text() != y->text()) return false;
        break;
      case ValueKind::Timestamp:
        if (!(x->timestamp() == y->timestamp())) return false;
        break;
      case ValueKind::Sequence: {
        auto xi = x->items();
        auto yi = y->items();
        if (xi.size() != yi.size()) return false;
        for (std::size_t i = 0; i < xi.size(); ++i) stack.emplace_back(&xi[i], &yi[i]);
        break;
      }
      case ValueKind::Mapping: {
        auto xp = x->pairs();
        auto yp = y->pairs();
        if (xp.size() != yp.size()) return false;
        for (std::size_t i = 0; i < xp.size(); ++i) {
          stack.emplace_back(&xp[i].key, &yp[i].key);
          stack.emplace_back(&xp[i].value, &yp[i].value);
        }
        break;
      }
      case ValueKind::Tagged:
        if (x->tagged().tag != y->tagged().tag) return false;
        stack.emplace_back(&x->tagged().inner, &y->tagged().inner);
        break;
    }
  }
  return true;
}

// ---- texts ------------------------------------------------------------------

void append_float_plain(std::string& out, double d) {
  if (std::isnan(d)) {
    out += "NaN";
    return;
  }
  if (std::isinf(d)) {
    out += d < 0 ? "-inf" : "inf";
    return;
  }
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  (void)ec;
  std::string_view s(buf, std::size_t(end - buf));
  if (!s.empty() && s[0] == '-') {
    out.push_back('-');
    s.remove_prefix(1);
  }
  const std::size_t e = s.find('e');
  std::string_view mant = s.substr(0, e);
  int exp = 0;
  std::from_chars(s.data() + e + 1 + (s[e + 1] == '+' ? 1 : 0), s.data() + s.size(), exp);
  char digits[32];
  std::size_t nd = 0;
  for (char c : mant)
    if (c != '.') digits[nd++] = c;
  while (nd > 1 && digits[nd - 1] == '0') --nd;  // "1.0e+00" style trailing zeros
  const long point = long(exp) + 1;             // digits before the decimal point
  if (point <= 0) {
    out += "0.";
    out.append(std::size_t(-point), '0');
    out.append(digits, nd);
  } else if (std::size_t(point) >= nd) {
    out.append(digits, nd);
    out.append(std::size_t(point) - nd, '0');
  } else {
    out.append(digits, std::size_t(point));
    out.push_back('.');
    out.append(digits + point, nd - std::size_t(point));
  }
}

namespace {

// Exact decimal digits of an integral double of magnitude >= 2^63.
void append_exact_integral(std::string& out, double d) {
  if (d < 0) {
    out.push_back('-');
    d = -d;
  }
  int exp = 0;
  const double m = std::frexp(d, &exp);  // d = m * 2^exp, 0.5 <= m < 1
  std::uint64_t mant = std::uint64_t(std::ldexp(m, 53));
  int shift = exp - 53;  // >= 10 for d >= 2^63
  constexpr std::uint64_t kBase = 1'000'000'000;
  std::vector<std::uint32_t> limbs;
  while (mant != 0) {
    limbs.push_back(std::uint32_t(mant % kBase));
    mant /= kBase;
  }
  while (shift > 0) {
    const int step = shift > 30 ? 30 : shift;
    shift -= step;
    std::uint64_t carry = 0;
    for (auto& limb : limbs) {
      const std::uint64_t v = (std::uint64_t(limb) << step) + carry;
      limb = std::uint32_t(v % kBase);
      carry = v / kBase;
    }
    while (carry != 0) {
      limbs.push_back(std::uint32_t(carry % kBase));
      carry /= kBase;
    }
  }
  char buf[16];
  auto r = std::to_chars(buf, buf + sizeof buf, limbs.back());
  out.append(buf, r.ptr);
  for (std::size_t i = limbs.size() - 1; i-- > 0;) {
    r = std::to_chars(buf, buf + sizeof buf, limbs[i]);
    out.append(std::size_t(9 - (r.ptr - buf)), '0');
    out.append(buf, r.ptr);
  }
}

void append_int(std::string& out, std::int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void append_uint(std::string& out, std::uint64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// Days from 1970-01-01 to the given proleptic Gregorian date.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) noexcept {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + std::int64_t(doe) - 719468;
}

void signature_body(std::string& out, const YamlValue& key);

void signature_guarded(std::string& out, const YamlValue& key) {
  stack_guarded([&] { signature_body(out, key); });
}

void signature_body(std::string& out, const YamlValue& key) {
  switch (key.kind) {
    case ValueKind::Null:
      out += "null";
      return;
    case ValueKind::Bool:
      out += key.boolean ? "n:1" : "n:0";
      return;
    case ValueKind::Int:
      out += "n:";
      append_int(out, key.integer);
      return;
    case ValueKind::BigInt:
      out += "n:";
      out += canonical_bigint_text(key.text());
      return;
    case ValueKind::Float: {
      const double d = key.real;
      if (std::isfinite(d) && d == std::trunc(d)) {
        out += "n:";
        if (d >= -9223372036854775808.0 && d < 9223372036854775808.0)
          append_int(out, std::int64_t(d));
        else
          append_exact_integral(out, d);  // equal to the big integer Python compares it with
        return;
      }
      out += "f:";
      append_float_plain(out, d);
      return;
    }
    case ValueKind::String:
      out += "s:";
      append_uint(out, key.text().size());
      out.push_back(':');
      out += key.text();
      return;
    case ValueKind::Timestamp: {
      const Timestamp& ts = key.timestamp();
      const DateTime* dt = std::get_if<DateTime>(&ts);
      if (dt != nullptr && dt->offset_minutes) {
        // Aware date-times compare by instant: sign the UTC minute count.
        const std::int64_t minutes = days_from_civil(dt->year, dt->month, dt->day) * 1440 +
                                     dt->hour * 60 + dt->minute - *dt->offset_minutes;
        out += "ts:utc:";
        append_int(out, minutes);
        out.push_back(':');
        append_uint(out, dt->second);
        out.push_back('.');
        append_uint(out, dt->microsecond);
        return;
      }
      out += "ts:";
      append_timestamp(out, ts);
      return;
    }
    case ValueKind::Sequence: {
      out += "seq:[";
      bool first = true;
      for (const YamlValue& item : key.items()) {
        if (!first) out.push_back(',');
        first = false;
        signature_guarded(out, item);
      }
      out.push_back(']');
      return;
    }
    case ValueKind::Mapping: {
      out += "map:{";
      bool first = true;
      for (const ValuePair& pair : key.pairs()) {
        if (!first) out.push_back(',');
        first = false;
        signature_guarded(out, pair.key);
        out.push_back('=');
        signature_guarded(out, pair.value);
      }
      out.push_back('}');
      return;
    }
    case ValueKind::Tagged:
      out += "t:";
      out += key.tagged().tag;
      out.push_back(':');
      signature_guarded(out, key.tagged().inner);
      return;
  }
}

void append_quoted(std::string& out, std::string_view text) {
  out.push_back('"');
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out.push_back(c);
    }
  }
  out.push_back('"');
}

void render_body(std::string& out, const YamlValue& v);

void render_guarded(std::string& out, const YamlValue& v) {
  stack_guarded([&] { render_body(out, v); });
}

void render_body(std::string& out, const YamlValue& v) {
  switch (v.kind) {
    case ValueKind::Null:
      out += "Null";
      return;
    case ValueKind::Bool:
      out += v.boolean ? "Bool(true)" : "Bool(false)";
      return;
    case ValueKind::Int:
      out += "Int(";
      append_int(out, v.integer);
      out.push_back(')');
      return;
    case ValueKind::BigInt:
      out += "BigInt(";
      append_quoted(out, v.text());
      out.push_back(')');
      return;
    case ValueKind::Float: {
      out += "Float(";
      const std::size_t start = out.size();
      append_float_plain(out, v.real);
      if (std::isfinite(v.real) &&
          std::string_view(out).substr(start).find('.') == std::string_view::npos)
        out += ".0";
      out.push_back(')');
      return;
    }
    case ValueKind::String:
      out += "String(";
      append_quoted(out, v.text());
      out.push_back(')');
      return;
    case ValueKind::Timestamp: {
      const Timestamp& ts = v.timestamp();
      out += "Timestamp(";
      if (const Date* d = std::get_if<Date>(&ts)) {
        out += "Date { year: ";
        append_int(out, d->year);
        out += ", month: ";
        append_uint(out, d->month);
        out += ", day: ";
        append_uint(out, d->day);
        out += " }";
      } else {
        const DateTime& t = std::get<DateTime>(ts);
        out += "DateTime { year: ";
        append_int(out, t.year);
        out += ", month: ";
        append_uint(out, t.month);
        out += ", day: ";
        append_uint(out, t.day);
        out += ", hour: ";
        append_uint(out, t.hour);
        out += ", minute: ";
        append_uint(out, t.minute);
        out += ", second: ";
        append_uint(out, t.second);
        out += ", microsecond: ";
        append_uint(out, t.microsecond);
        out += ", offset_minutes: ";
        if (t.offset_minutes) {
          out += "Some(";
          append_int(out, *t.offset_minutes);
          out.push_back(')');
        } else {
          out += "None";
        }
        out += " }";
      }
      out.push_back(')');
      return;
    }
    case ValueKind::Sequence: {
      out += "Sequence([";
      bool first = true;
      for (const YamlValue& item : v.items()) {
        if (!first) out += ", ";
        first = false;
        render_guarded(out, item);
      }
      out += "])";
      return;
    }
    case ValueKind::Mapping: {
      out += "Mapping([";
      bool first = true;
      for (const ValuePair& pair : v.pairs()) {
        if (!first) out += ", ";
        first = false;
        out.push_back('(');
        render_guarded(out, pair.key);
        out += ", ";
        render_guarded(out, pair.value);
        out.push_back(')');
      }
      out += "])";
      return;
    }
    case ValueKind::Tagged:
      out += "Tagged(";
      append_quoted(out, v.tagged().tag);
      out += ", ";
      render_guarded(out, v.tagged().inner);
      out.push_back(')');
      return;
  }
}

}  // namespace

void write_key_signature(std::string& out, const YamlValue& key) { signature_guarded(out, key); }

void write_key_signature(std::string& out, const ResolvedScalar& key) {
  switch (key.type) {
    case ResolvedScalar::Type::Null:
      signature_body(out, YamlValue::null());
      return;
    case ResolvedScalar::Type::Bool:
      signature_body(out, YamlValue::of_bool(key.boolean));
      return;
    case ResolvedScalar::Type::Int:
      signature_body(out, YamlValue::of_int(key.integer));
      return;
    case ResolvedScalar::Type::Float:
      signature_body(out, YamlValue::of_float(key.real));
      return;
    case ResolvedScalar::Type::BigInt:
      out += "n:";
      out += canonical_bigint_text(key.text);
      return;
    case ResolvedScalar::Type::String:
      out += "s:";
      append_uint(out, key.text.size());
      out.push_back(':');
      out += key.text;
      return;
  }
}

std::string debug_render_value(const YamlValue& value) {
  std::string out;
  render_guarded(out, value);
  return out;
}

}  // namespace kestrine
