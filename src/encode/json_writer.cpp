#include "encode/json_writer.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "emit_util/float_text.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

constexpr char kHex[] = "0123456789abcdef";

// Bytes that may need escaping in a JSON string: controls, '"', '\\' and
// 0xE2 (the lead byte of U+2028 and U+2029).
constexpr std::array<bool, 256> kJsonEscapeByte = [] {
  std::array<bool, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = true;
  t['"'] = t['\\'] = t[0xE2] = true;
  return t;
}();

inline bool is_plain_json_text(std::string_view text) noexcept {
  for (char c : text) {
    if (kJsonEscapeByte[static_cast<unsigned char>(c)]) return false;
  }
  return true;
}

// Grows `out` by `n` bytes and lets `fill` write them all through a pointer
// to the first new byte.  Positions come from the size before the call, not
// from the length resize_and_overwrite hands to its callback: libstdc++ 12
// passes the new capacity there, not the requested size, whenever the buffer
// is reallocated.  Growing (by doubling) beforehand keeps the reallocation
// out of resize_and_overwrite altogether.
template <class Fill>
inline void append_raw(std::string& out, std::size_t n, Fill&& fill) {
  const std::size_t old = out.size();
  if (out.capacity() - old < n) out.reserve(std::max(old + n, 2 * out.capacity()));
  out.resize_and_overwrite(old + n, [&](char* p, std::size_t) {
    fill(p + old);
    return old + n;
  });
}

// `"text"`, for text without bytes to escape.
inline void append_plain_string(std::string& out, std::string_view text) {
  const std::size_t n = text.size();
  append_raw(out, n + 2, [&](char* q) {
    q[0] = '"';
    std::memcpy(q + 1, text.data(), n);
    q[n + 1] = '"';
  });
}

inline void append_int(std::string& out, std::int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr - buf);
}

// JSON numbers carry no "+" and no "_" separators (which big integers read
// from YAML 1.1 text may hold).
void append_json_bigint(std::string& out, std::string_view digits) {
  if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
  for (char c : digits) {
    if (c != '_') out.push_back(c);
  }
}

inline void newline_indent(std::string& out, std::size_t spaces) {
  out.push_back('\n');
  out.append(spaces, ' ');
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
  JsonWriter(std::string& out, const JsonOptions& options) : out_(out), opt_(options) {}

  bool write(const YamlValue& value, std::size_t level);

 private:
  bool write_array(const YamlValue& value, std::size_t level);
  bool write_object(const YamlValue& value, std::size_t level);
  std::string_view key_text(const KeyRef& k) const noexcept {
    return k.data != nullptr ? std::string_view(k.data, k.size)
                             : std::string_view(key_buf_.data() + k.offset, k.size);
  }

  std::string& out_;
  const JsonOptions& opt_;
  std::vector<KeyRef> keys_;  // members of the open objects
  std::string key_buf_;       // texts of non-string keys of the open objects
};

bool JsonWriter::write(const YamlValue& value, std::size_t level) {
  const YamlValue* v = &value;
  while (v->kind == ValueKind::Tagged) v = &v->tagged().inner;  // tags are dropped
  switch (v->kind) {
    case ValueKind::Null: out_.append("null"); return true;
    case ValueKind::Bool: out_.append(v->boolean ? "true" : "false"); return true;
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
    case ValueKind::Sequence:
      return stack_guarded([&] { return write_array(*v, level); });
    case ValueKind::Mapping:
      return stack_guarded([&] { return write_object(*v, level); });
    case ValueKind::Tagged: break;  // unwrapped above
  }
  return true;
}

bool JsonWriter::write_array(const YamlValue& value, std::size_t level) {
  auto items = value.items();
  if (items.empty()) {
    out_.append("[]");
    return true;
  }
  out_.push_back('[');
  bool first = true;
  for (const YamlValue& item : items) {
    if (!first) out_.push_back(',');
    first = false;
    if (opt_.indent != 0) newline_indent(out_, opt_.indent * (level + 1));
    if (!write(item, level + 1)) return false;
  }
  if (opt_.indent != 0) newline_indent(out_, opt_.indent * level);
  out_.push_back(']');
  return true;
}

bool JsonWriter::write_object(const YamlValue& value, std::size_t level) {
  auto pairs = value.pairs();
  if (pairs.empty()) {
    out_.append("{}");
    return true;
  }
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
    switch (k->kind) {
      case ValueKind::Null: key_buf_.append("null"); break;
      case ValueKind::Bool: key_buf_.append(k->boolean ? "true" : "false"); break;
      case ValueKind::Int: append_int(key_buf_, k->integer); break;
      case ValueKind::BigInt: append_json_bigint(key_buf_, k->text()); break;
      case ValueKind::Float: write_json_float(key_buf_, k->real); break;
      case ValueKind::Timestamp: append_timestamp(key_buf_, k->timestamp()); break;
      default: return done(false);  // Sequence or Mapping
    }
    keys_.push_back({nullptr, start, key_buf_.size() - start, &p.value});
  }
  if (opt_.sort_keys && pairs.size() >= 2) {
    std::stable_sort(keys_.begin() + static_cast<std::ptrdiff_t>(mark), keys_.end(),
                     [this](const KeyRef& a, const KeyRef& b) {
                       return key_text(a) < key_text(b);
                     });
  }
  out_.push_back('{');
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const KeyRef k = keys_[mark + i];  // copied: nested objects grow keys_
    const std::string_view kt = key_text(k);
    if (opt_.indent == 0 && is_plain_json_text(kt)) {
      // `,"key":` in one write
      const std::size_t n = kt.size();
      const std::size_t comma = i != 0 ? 1 : 0;
      append_raw(out_, n + 3 + comma, [&](char* q) {
        q[0] = ',';
        q += comma;
        q[0] = '"';
        std::memcpy(q + 1, kt.data(), n);
        q[n + 1] = '"';
        q[n + 2] = ':';
      });
    } else {
      if (i != 0) out_.push_back(',');
      if (opt_.indent != 0) newline_indent(out_, opt_.indent * (level + 1));
      write_json_string(out_, kt);
      out_.push_back(':');
      if (opt_.indent != 0) out_.push_back(' ');
    }
    if (!write(*k.value, level + 1)) return done(false);
  }
  if (opt_.indent != 0) newline_indent(out_, opt_.indent * level);
  out_.push_back('}');
  return done(true);
}

}  // namespace

JsonOptions JsonOptions::from_option_bits(std::uint64_t option) noexcept {
  JsonOptions o;
  o.indent = (option & (std::uint64_t{1} << 18))   ? 4
             : (option & (std::uint64_t{1} << 17)) ? 2
                                                   : 0;
  o.sort_keys = option & (std::uint64_t{1} << 21);
  return o;
}

void write_json_float(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out.append("null");
    return;
  }
  append_float(out, value);
}

void write_json_string(std::string& out, std::string_view text) {
  const std::size_t n = text.size();
  std::size_t first = 0;  // the first byte that may need escaping
  while (first < n && !kJsonEscapeByte[static_cast<unsigned char>(text[first])]) ++first;
  if (first == n) {
    append_plain_string(out, text);
    return;
  }
  out.push_back('"');
  std::size_t run = 0;
  for (std::size_t i = first; i < n; ++i) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (b >= 0x20 && b != '"' && b != '\\' && b != 0xE2) continue;
    const char* esc = nullptr;
    std::size_t len = 1;
    if (b == 0xE2) {
      // U+2028 and U+2029 (E2 80 A8/A9) end lines in JavaScript.
      if (i + 2 < n && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
          (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xA8) {
        esc = static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
        len = 3;
      } else {
        continue;
      }
    }
    out.append(text.data() + run, i - run);
    if (esc != nullptr) {
      out.append(esc, 6);
    } else {
      switch (b) {
        case '"': out.append("\\\""); break;
        case '\\': out.append("\\\\"); break;
        case '\b': out.append("\\b"); break;
        case '\t': out.append("\\t"); break;
        case '\n': out.append("\\n"); break;
        case '\f': out.append("\\f"); break;
        case '\r': out.append("\\r"); break;
        default: {
          char buf[6] = {'\\', 'u', '0', '0', kHex[b >> 4], kHex[b & 0xF]};
          out.append(buf, 6);
        }
      }
    }
    i += len - 1;
    run = i + 1;
  }
  out.append(text.data() + run, n - run);
  out.push_back('"');
}

std::expected<void, std::string> write_json_value(std::string& out, const YamlValue& value,
                                                  const JsonOptions& options, std::size_t level) {
  JsonWriter writer(out, options);
  if (!writer.write(value, level)) return std::unexpected(std::string(kJsonCollectionKeyError));
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
