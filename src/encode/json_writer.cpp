#include "encode/json_writer.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <span>
#include <vector>

#include "emit_util/float_text.hpp"
#include "util/options.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

constexpr char kHex[] = "0123456789abcdef";
constexpr std::size_t kStackCheckEvery = 4;

inline void append_int(std::string& out, std::int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr - buf);
}
inline void append_int(TextSink& out, std::int64_t v) {
  char* p = out.reserve(24);
  out.commit(std::to_chars(p, p + 24, v).ptr);
}

// JSON numbers carry no "+" and no "_" separators (which big integers read
// from YAML 1.1 text may hold).
template <class Out>
void append_json_bigint(Out& out, std::string_view digits) {
  if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
  for (char c : digits) {
    if (c != '_') out.push_back(c);
  }
}

inline void newline_indent(TextSink& out, std::size_t spaces) {
  char* p = out.reserve(spaces + 1);
  *p = '\n';
  std::memset(p + 1, ' ', spaces);
  out.commit(p + 1 + spaces);
}

// The escapes of the bytes from `text[first]` (one that needs escaping, or
// 0xE2) on, the string's closing quote included (the opening quote and the
// plain prefix are written).  Plain runs between escapes are found a block
// at a time (json_plain_prefix) and copied whole.
void write_json_escapes(TextSink& out, std::string_view text, std::size_t first) {
  const std::size_t n = text.size();
  std::size_t i = first;
  while (i < n) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (b == 0xE2) {
      // U+2028 and U+2029 (E2 80 A8/A9) end lines in JavaScript; any other
      // character with this lead byte is copied.
      if (i + 2 < n && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
          (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xA8) {
        out.append(static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029", 6);
        i += 3;
      } else {
        out.push_back(static_cast<char>(b));
        i += 1;
      }
    } else {
      switch (b) {
        case '"': out.append("\\\"", 2); break;
        case '\\': out.append("\\\\", 2); break;
        case '\b': out.append("\\b", 2); break;
        case '\t': out.append("\\t", 2); break;
        case '\n': out.append("\\n", 2); break;
        case '\f': out.append("\\f", 2); break;
        case '\r': out.append("\\r", 2); break;
        default: {
          const char buf[6] = {'\\', 'u', '0', '0', kHex[b >> 4], kHex[b & 0xF]};
          out.append(buf, 6);
        }
      }
      i += 1;
    }
    const std::size_t plain = json_plain_prefix(text.substr(i));
    out.append(text.data() + i, plain);
    i += plain;
  }
  out.push_back('"');
}

// A member key: its text lives either in the tree or in the writer's key
// buffer (as an offset, since the buffer grows while members are written).
struct KeyRef {
  const char* data;  // null: text at `offset` in the key buffer
  std::size_t offset;
  std::size_t size;
  const YamlValue* value;
};

class JsonWriter {
 public:
  JsonWriter(TextSink& out, const JsonOptions& options) : out_(out), opt_(options) {}

  bool write(const YamlValue& value, std::size_t level);

 private:
  // An item's or member's value: the commonest scalars written in place
  // (saving a call per value), the rest through write().
  [[gnu::always_inline]] bool write_nested(const YamlValue& v, std::size_t level) {
    switch (v.kind) {
      case ValueKind::String: write_json_string(out_, v.text()); return true;
      case ValueKind::Int: append_int(out_, v.integer); return true;
      case ValueKind::Null: out_.append("null", 4); return true;
      default: return write(v, level);
    }
  }
  bool write_array(const YamlValue& value, std::size_t level);
  bool write_object(const YamlValue& value, std::size_t level);
  bool write_sorted_object(std::span<const ValuePair> pairs, std::size_t level);
  std::string_view key_text(const KeyRef& k) const noexcept {
    return k.data != nullptr ? std::string_view(k.data, k.size)
                             : std::string_view(key_buf_.data() + k.offset, k.size);
  }

  TextSink& out_;
  const JsonOptions& opt_;
  std::vector<KeyRef> keys_;  // members of the open sorted objects
  std::string key_buf_;       // texts of non-string keys of the open sorted objects, and scratch
};

bool JsonWriter::write(const YamlValue& value, std::size_t level) {
  const YamlValue* v = &value;
  while (v->kind == ValueKind::Tagged) v = &v->tagged().inner;  // tags are dropped
  switch (v->kind) {
    case ValueKind::Null: out_.append("null", 4); return true;
    case ValueKind::Bool: out_.append(v->boolean ? std::string_view("true") : std::string_view("false")); return true;
    case ValueKind::Int: append_int(out_, v->integer); return true;
    case ValueKind::BigInt: append_json_bigint(out_, v->text()); return true;
    case ValueKind::Float: write_json_float(out_, v->real); return true;
    case ValueKind::String: write_json_string(out_, v->text()); return true;
    case ValueKind::Timestamp: {
      const std::size_t mark = key_buf_.size();
      append_timestamp(key_buf_, v->timestamp());
      write_json_string(out_, std::string_view(key_buf_).substr(mark));
      key_buf_.resize(mark);
      return true;
    }
    // The stack is checked every kStackCheckEvery levels: a few frames of
    // this walk take far less than the red zone keeps free.
    case ValueKind::Sequence:
      if (level % kStackCheckEvery != 0) return write_array(*v, level);
      return stack_guarded([&] { return write_array(*v, level); });
    case ValueKind::Mapping:
      if (level % kStackCheckEvery != 0) return write_object(*v, level);
      return stack_guarded([&] { return write_object(*v, level); });
    case ValueKind::Tagged: break;  // unwrapped above
  }
  return true;
}

bool JsonWriter::write_array(const YamlValue& value, std::size_t level) {
  auto items = value.items();
  if (items.empty()) {
    out_.append("[]", 2);
    return true;
  }
  out_.push_back('[');
  bool first = true;
  for (const YamlValue& item : items) {
    if (opt_.indent == 0) [[likely]] {
      if (!first) out_.push_back(',');
    } else {
      write_json_item_start(out_, first, opt_, level);
    }
    first = false;
    if (!write_nested(item, level + 1)) return false;
  }
  write_json_close(out_, ']', opt_, level);
  return true;
}

bool JsonWriter::write_object(const YamlValue& value, std::size_t level) {
  auto pairs = value.pairs();
  if (pairs.empty()) {
    out_.append("{}", 2);
    return true;
  }
  if (opt_.sort_keys && pairs.size() >= 2) return write_sorted_object(pairs, level);
  // Members as they come: a collection key found halfway takes back what
  // this object wrote, so that it writes nothing of itself.
  const std::size_t start = out_.size();
  out_.push_back('{');
  bool first = true;
  for (const ValuePair& p : pairs) {
    const YamlValue* k = &p.key;
    while (k->kind == ValueKind::Tagged) k = &k->tagged().inner;
    if (k->kind == ValueKind::String) [[likely]] {
      write_json_member_name(out_, k->text(), first, opt_, level);
    } else {
      const std::size_t buf_mark = key_buf_.size();
      const bool scalar = append_json_key_text(key_buf_, *k);
      if (scalar) write_json_member_name(out_, std::string_view(key_buf_).substr(buf_mark), first, opt_, level);
      key_buf_.resize(buf_mark);
      if (!scalar) {
        out_.truncate(start);
        return false;
      }
    }
    first = false;
    if (!write_nested(p.value, level + 1)) return false;
  }
  write_json_close(out_, '}', opt_, level);
  return true;
}

bool JsonWriter::write_sorted_object(std::span<const ValuePair> pairs, std::size_t level) {
  const std::size_t mark = keys_.size();
  const std::size_t buf_mark = key_buf_.size();
  auto done = [&](bool ok) {
    keys_.resize(mark);
    key_buf_.resize(buf_mark);
    return ok;
  };
  // Key texts first: a collection key fails before anything is written.
  for (const ValuePair& p : pairs) {
    const YamlValue* k = &p.key;
    while (k->kind == ValueKind::Tagged) k = &k->tagged().inner;
    if (k->kind == ValueKind::String) {
      std::string_view t = k->text();
      keys_.push_back({t.data(), 0, t.size(), &p.value});
      continue;
    }
    const std::size_t start = key_buf_.size();
    if (!append_json_key_text(key_buf_, *k)) return done(false);
    keys_.push_back({nullptr, start, key_buf_.size() - start, &p.value});
  }
  std::stable_sort(keys_.begin() + static_cast<std::ptrdiff_t>(mark), keys_.end(),
                   [this](const KeyRef& a, const KeyRef& b) { return key_text(a) < key_text(b); });
  out_.push_back('{');
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const KeyRef k = keys_[mark + i];  // copied: nested objects grow keys_
    write_json_member_name(out_, key_text(k), i == 0, opt_, level);
    if (!write(*k.value, level + 1)) return done(false);
  }
  write_json_close(out_, '}', opt_, level);
  return done(true);
}

}  // namespace

JsonOptions JsonOptions::from_option_bits(std::uint64_t option) noexcept {
  JsonOptions o;
  o.indent = (option & OPT_INDENT_4) ? 4 : (option & OPT_INDENT_2) ? 2 : 0;
  o.sort_keys = option & OPT_SORT_KEYS;
  return o;
}

void write_json_float(TextSink& out, double value) {
  if (!std::isfinite(value)) {
    out.append("null", 4);
    return;
  }
  out.commit(write_float_text(out.reserve(kFloatTextMax), value));
}

void write_json_string_escaped(TextSink& out, std::string_view text, std::size_t plain) {
  char* q = out.reserve(plain + 1);
  q[0] = '"';
  std::memcpy(q + 1, text.data(), plain);
  out.commit(q + plain + 1);
  write_json_escapes(out, text, plain);
}

void write_json_string(std::string& out, std::string_view text) {
  StringSink sink(out);
  write_json_string(sink, text);
}

bool append_json_key_text(std::string& out, const YamlValue& key) {
  const YamlValue* k = &key;
  while (k->kind == ValueKind::Tagged) k = &k->tagged().inner;
  switch (k->kind) {
    case ValueKind::String: out.append(k->text()); return true;
    case ValueKind::Null: out.append("null"); return true;
    case ValueKind::Bool: out.append(k->boolean ? "true" : "false"); return true;
    case ValueKind::Int: append_int(out, k->integer); return true;
    case ValueKind::BigInt: append_json_bigint(out, k->text()); return true;
    case ValueKind::Float:
      if (!std::isfinite(k->real)) {
        out.append("null");
      } else {
        append_float(out, k->real);
      }
      return true;
    case ValueKind::Timestamp: append_timestamp(out, k->timestamp()); return true;
    case ValueKind::Sequence:
    case ValueKind::Mapping:
    case ValueKind::Tagged: break;
  }
  return false;
}

void write_json_item_start(TextSink& out, bool first, const JsonOptions& options, std::size_t level) {
  if (!first) out.push_back(',');
  if (options.indent != 0) newline_indent(out, options.indent * (level + 1));
}

void write_json_member_name_slow(TextSink& out, std::string_view key, bool first, const JsonOptions& options,
                                 std::size_t level) {
  write_json_item_start(out, first, options, level);
  write_json_string(out, key);
  out.push_back(':');
  if (options.indent != 0) out.push_back(' ');
}

void write_json_close_indented(TextSink& out, char bracket, const JsonOptions& options, std::size_t level) {
  newline_indent(out, options.indent * level);
  out.push_back(bracket);
}

bool write_json_value(TextSink& out, const YamlValue& value, const JsonOptions& options, std::size_t level) {
  JsonWriter writer(out, options);
  return writer.write(value, level);
}

std::expected<void, std::string> write_json_value(std::string& out, const YamlValue& value,
                                                  const JsonOptions& options, std::size_t level) {
  StringSink sink(out);
  if (!write_json_value(sink, value, options, level)) return std::unexpected(std::string(kJsonCollectionKeyError));
  return {};
}

std::expected<std::string, std::string> dump_json(const YamlValue& root,
                                                  const JsonOptions& options) {
  std::string out;
  out.reserve(256);
  KESTRINE_TRY(write_json_value(out, root, options, 0));
  return out;
}

}  // namespace kestrine
