#include "encode/yaml_writer.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "emit_util/float_text.hpp"
#include "emit_util/null_style.hpp"
#include "emit_util/plain_scalar.hpp"
#include "emit_util/scalar_text.hpp"
#include "util/float_order.hpp"
#include "util/options.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {
namespace {

inline bool is_block_collection(const YamlValue& v, bool flow) noexcept {
  return !flow && (v.kind == ValueKind::Sequence || v.kind == ValueKind::Mapping) && v.size() != 0;
}

inline void append_int(LargeText& out, std::int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr - buf);
}

// A big integer's digits as a reader takes them in every version: "_"
// separators (kept from YAML 1.1 input) are dropped, since YAML 1.2 reads
// "1_000" as a string.
inline void append_bigint(LargeText& out, std::string_view digits) {
  if (digits.find('_') == std::string_view::npos) {
    out.append(digits);
    return;
  }
  for (char c : digits) {
    if (c != '_') out.push_back(c);
  }
}

// Characters that end a plain scalar inside a flow collection.  YAML 1.2
// readers stop at ",[]{}"; YAML 1.1 readers (PyYAML among them) also at "?".
int key_class(ValueKind k) noexcept {
  switch (k) {
    case ValueKind::Null: return 0;
    case ValueKind::Bool: return 1;
    case ValueKind::Int:
    case ValueKind::BigInt:
    case ValueKind::Float: return 2;
    case ValueKind::String:
    case ValueKind::Timestamp: return 3;
    default: return 4;
  }
}

}  // namespace

WriterOptions WriterOptions::from_option_bits(std::uint64_t option, std::uint64_t width) noexcept {
  WriterOptions o;
  o.indent = (option & OPT_INDENT_4) ? 4 : 2;
  o.width = width;
  o.null_style = null_style_of(option);
  o.version_mode = (option & OPT_PYYAML_COMPAT) ? VersionMode::PyyamlCompat
                   : (option & OPT_YAML_1_1)    ? VersionMode::Yaml11
                                                : VersionMode::Yaml12;
  o.sort_keys = option & OPT_SORT_KEYS;
  o.flow = option & OPT_FLOW_STYLE;
  o.explicit_start = option & OPT_EXPLICIT_START;
  o.explicit_end = option & OPT_EXPLICIT_END;
  o.prefer_double = !(option & OPT_SINGLE_QUOTES);
  o.indentless = option & OPT_INDENTLESS_SEQUENCES;
  return o;
}

bool literal_block_suits(std::string_view text) noexcept {
  if (!fits_literal_block(text)) return false;
  // Some line must hold content; a text of line feeds only is quoted.
  return text.find_first_not_of('\n') != std::string_view::npos;
}

double numeric_value_f64(const YamlValue& v) noexcept {
  switch (v.kind) {
    case ValueKind::Float: return v.real;
    case ValueKind::Int: return static_cast<double>(v.integer);
    case ValueKind::BigInt: {
      // The digits without their "_" separators; texts too long for the
      // buffer only differ in magnitude from +-inf for sorting purposes.
      std::string_view t = v.text();
      char buf[400];
      std::size_t n = 0;
      bool overflow = false;
      for (char c : t) {
        if (c == '_') continue;
        if (n == sizeof buf) {
          overflow = true;
          break;
        }
        buf[n++] = c;
      }
      if (overflow) return (!t.empty() && t[0] == '-') ? -HUGE_VAL : HUGE_VAL;
      if (auto d = parse_standard_float(std::string_view(buf, n))) return *d;
      return std::numeric_limits<double>::quiet_NaN();
    }
    default: return std::numeric_limits<double>::quiet_NaN();
  }
}

bool compare_sort_keys(const YamlValue& a, const YamlValue& b) noexcept {
  const int ca = key_class(a.kind), cb = key_class(b.kind);
  if (ca != cb) return ca < cb;
  switch (ca) {
    case 1: return !a.boolean && b.boolean;
    case 2:
      if (a.kind == ValueKind::Int && b.kind == ValueKind::Int) return a.integer < b.integer;
      return total_order_key(numeric_value_f64(a)) < total_order_key(numeric_value_f64(b));
    case 3:
      if (a.kind == ValueKind::String && b.kind == ValueKind::String) return a.text() < b.text();
      return false;
    default: return false;
  }
}

// ---- document -----------------------------------------------------------------

void YamlWriter::write_document(const YamlValue& root) {
  if (opt_.explicit_start) out_.append("---\n");
  if (root.kind == ValueKind::String && literal_block_suits(root.text())) {
    write_literal(root.text(), step_);
  } else if (root.kind == ValueKind::Mapping && is_block_collection(root, opt_.flow)) {
    write_block_mapping(root.pairs(), 0);
  } else if (root.kind == ValueKind::Sequence && is_block_collection(root, opt_.flow)) {
    write_block_sequence(root.items(), 0);
  } else if (root.kind == ValueKind::Tagged) {
    out_.append(root.tagged().tag);
    stack_guarded([&] { write_block_value(root.tagged().inner, 0); });
  } else {
    stack_guarded([&] { write_value(root, false); });
    out_.push_back('\n');
  }
  if (opt_.explicit_end) out_.append("...\n");
}

void YamlWriter::write_literal(std::string_view text, std::size_t indent) {
  write_block_header(out_, text, '|');
  write_literal_lines(out_, text, indent);
}

// ---- block context ----------------------------------------------------------

void YamlWriter::write_block_value(const YamlValue& value, std::size_t n) {
  switch (value.kind) {
    case ValueKind::Null:
      if (opt_.null_style == NullStyle::Default) {
        out_.push_back('\n');
        return;
      }
      break;
    case ValueKind::String:
      if (literal_block_suits(value.text())) {
        out_.push_back(' ');
        write_literal(value.text(), n + step_);
        return;
      }
      break;
    case ValueKind::Sequence:
      if (is_block_collection(value, opt_.flow)) {
        out_.push_back('\n');
        write_block_sequence(value.items(), opt_.indentless ? n : n + step_);
        return;
      }
      break;
    case ValueKind::Mapping:
      if (is_block_collection(value, opt_.flow)) {
        out_.push_back('\n');
        write_block_mapping(value.pairs(), n + step_);
        return;
      }
      break;
    case ValueKind::Tagged: {
      const TaggedValue& t = value.tagged();
      out_.push_back(' ');
      out_.append(t.tag);
      if (t.inner.kind == ValueKind::Sequence && is_block_collection(t.inner, opt_.flow)) {
        out_.push_back('\n');
        write_block_sequence(t.inner.items(), n + step_);
      } else {
        stack_guarded([&] { write_block_value(t.inner, n); });
      }
      return;
    }
    default:
      break;
  }
  out_.push_back(' ');
  write_value(value, false);
  out_.push_back('\n');
}

void YamlWriter::push_sorted_entries(std::span<const ValuePair> pairs) {
  const std::size_t mark = order_.size();
  for (const ValuePair& p : pairs) order_.push_back(&p);
  if (opt_.sort_keys && pairs.size() >= 2) {
    std::stable_sort(order_.begin() + static_cast<std::ptrdiff_t>(mark), order_.end(),
                     [](const ValuePair* a, const ValuePair* b) {
                       return compare_sort_keys(a->key, b->key);
                     });
  }
}

void YamlWriter::write_block_mapping(std::span<const ValuePair> pairs, std::size_t n) {
  stack_guarded([&] {
    if (!opt_.sort_keys) {
      bool not_first = false;
      for (const ValuePair& p : pairs) {
        append_spaces(out_, n);
        write_entry(p.key, p.value, n, not_first);
        not_first = true;
      }
      return;
    }
    const std::size_t mark = order_.size();
    push_sorted_entries(pairs);
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      const ValuePair* p = order_[mark + i];  // re-read: nested mappings grow order_
      append_spaces(out_, n);
      write_entry(p->key, p->value, n, i != 0);
    }
    order_.resize(mark);
  });
}

void YamlWriter::write_key(const YamlValue& key, bool in_flow) {
  const bool saved = no_wrap_;
  no_wrap_ = true;
  write_value(key, in_flow);
  no_wrap_ = saved;
}

void YamlWriter::write_entry(const YamlValue& key, const YamlValue& value, std::size_t n,
                             bool not_first) {
  const std::size_t key_start = out_.size();
  write_key(key, false);
  const bool too_long = out_.size() - key_start > kMaxImplicitKeyBytes;
  if ((not_first && key.kind == ValueKind::Tagged) || too_long) {
    // Explicit key: "? key", then ":" on the next line at the entry's column.
    out_.insert(key_start, "? ");
    out_.push_back('\n');
    append_spaces(out_, n);
  }
  out_.push_back(':');
  write_block_value(value, n);
}

void YamlWriter::write_block_sequence(std::span<const YamlValue> items, std::size_t n) {
  stack_guarded([&] {
    const std::size_t inner = n + 2;  // the dash and its space
    for (const YamlValue& item : items) {
      append_spaces(out_, n);
      out_.push_back('-');
      switch (item.kind) {
        case ValueKind::Null:
          if (opt_.null_style == NullStyle::Default) {
            out_.push_back('\n');
            continue;
          }
          break;
        case ValueKind::String:
          if (literal_block_suits(item.text())) {
            out_.push_back(' ');
            write_literal(item.text(), inner);
            continue;
          }
          break;
        case ValueKind::Sequence:
          if (is_block_collection(item, opt_.flow)) {
            out_.push_back('\n');
            write_block_sequence(item.items(), inner);
            continue;
          }
          break;
        case ValueKind::Mapping:
          if (is_block_collection(item, opt_.flow)) {
            out_.push_back(' ');
            auto pairs = item.pairs();
            if (!opt_.sort_keys) {
              bool not_first = false;
              for (const ValuePair& p : pairs) {
                if (not_first) append_spaces(out_, inner);
                write_entry(p.key, p.value, inner, not_first);
                not_first = true;
              }
            } else {
              const std::size_t mark = order_.size();
              push_sorted_entries(pairs);
              for (std::size_t i = 0; i < pairs.size(); ++i) {
                const ValuePair* p = order_[mark + i];
                if (i != 0) append_spaces(out_, inner);
                write_entry(p->key, p->value, inner, i != 0);
              }
              order_.resize(mark);
            }
            continue;
          }
          break;
        case ValueKind::Tagged: {
          const TaggedValue& t = item.tagged();
          out_.push_back(' ');
          out_.append(t.tag);
          if (t.inner.kind == ValueKind::Sequence && is_block_collection(t.inner, opt_.flow)) {
            out_.push_back('\n');
            write_block_sequence(t.inner.items(), inner);
          } else {
            write_block_value(t.inner, n);
          }
          continue;
        }
        default:
          break;
      }
      out_.push_back(' ');
      write_value(item, false);
      out_.push_back('\n');
    }
  });
}

// ---- inline values and flow collections -------------------------------------

void YamlWriter::write_value(const YamlValue& value, bool in_flow) {
  switch (value.kind) {
    case ValueKind::Null:
      out_.append(null_word(opt_.null_style));
      return;
    case ValueKind::Bool:
      out_.append(value.boolean ? "true" : "false");
      return;
    case ValueKind::Int:
      append_int(out_, value.integer);
      return;
    case ValueKind::BigInt:
      append_bigint(out_, value.text());
      return;
    case ValueKind::Float:
      append_float(out_, value.real);
      return;
    case ValueKind::String:
      write_plain_string(value.text(), in_flow);
      return;
    case ValueKind::Timestamp:
      // Written as the string it formats to.
      ts_text_.clear();
      append_timestamp(ts_text_, value.timestamp());
      write_plain_string(ts_text_, in_flow);
      return;
    case ValueKind::Tagged:
      out_.append(value.tagged().tag);
      out_.push_back(' ');
      stack_guarded([&] { write_value(value.tagged().inner, in_flow); });
      return;
    case ValueKind::Sequence:
      stack_guarded([&] { write_flow_sequence(value.items()); });
      return;
    case ValueKind::Mapping:
      stack_guarded([&] { write_flow_mapping(value.pairs()); });
      return;
  }
}

std::size_t YamlWriter::column() noexcept {
  // Only whole lines are ever inserted into (the "? " of a long key), and
  // they hold no line feed, so a scan back to the previous end is enough.
  const char* data = out_.data();
  std::size_t i = out_.size();
  if (scanned_ > i) scanned_ = line_start_ = 0;  // the buffer was cut by the caller
  while (i > scanned_ && data[i - 1] != '\n') --i;
  if (i > scanned_) line_start_ = i;
  scanned_ = out_.size();
  return out_.size() - line_start_;
}

std::size_t YamlWriter::flow_wrap_indent() noexcept {
  if (opt_.width == 0) return 0;  // never wraps
  column();
  std::size_t spaces = 0;
  while (line_start_ + spaces < out_.size() && out_[line_start_ + spaces] == ' ') ++spaces;
  return spaces + step_;
}

void YamlWriter::write_flow_separator(std::size_t wrap_indent) {
  out_.push_back(',');
  if (opt_.width != 0 && !no_wrap_ && column() >= opt_.width) {
    out_.push_back('\n');
    append_spaces(out_, wrap_indent);
  } else {
    out_.push_back(' ');
  }
}

void YamlWriter::write_flow_sequence(std::span<const YamlValue> items) {
  out_.push_back('[');
  const std::size_t wrap = flow_wrap_indent();
  bool first = true;
  for (const YamlValue& item : items) {
    if (!first) write_flow_separator(wrap);
    first = false;
    write_value(item, true);
  }
  out_.push_back(']');
}

void YamlWriter::write_flow_mapping(std::span<const ValuePair> pairs) {
  out_.push_back('{');
  const std::size_t wrap = flow_wrap_indent();
  const std::size_t mark = order_.size();
  push_sorted_entries(pairs);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const ValuePair* p = order_[mark + i];
    if (i != 0) write_flow_separator(wrap);
    const std::size_t key_start = out_.size();
    write_key(p->key, true);
    if (out_.size() - key_start > kMaxImplicitKeyBytes) out_.insert(key_start, "? ");
    out_.append(": ");
    write_value(p->value, true);
  }
  order_.resize(mark);
  out_.push_back('}');
}

void YamlWriter::write_plain_string(std::string_view text, bool in_flow) {
  if (text.empty()) {
    out_.append(opt_.prefer_double ? "\"\"" : "''");
    return;
  }
  if (needs_quotes(text, opt_.version_mode, in_flow)) {
    write_quoted_string(text);
    return;
  }
  if (opt_.width != 0 && !no_wrap_ && text.size() > 1 &&
      column() + text.size() > opt_.width && has_fold_point(text)) {
    write_quoted_string(text);  // quoted so that it can fold
    return;
  }
  out_.append(text);
}

void YamlWriter::write_quoted_string(std::string_view text) {
  const bool dbl = opt_.prefer_double ||
                   text.find('\'') != std::string_view::npos ||
                   !is_printable_single_line(text);
  if (opt_.width == 0 || no_wrap_) {
    if (dbl) {
      write_double_quoted(out_, text);
    } else {
      write_single_quoted(out_, text);
    }
    return;
  }
  std::size_t col = column();
  if (col < 1) col = 1;
  const char quote = dbl ? '"' : '\'';
  out_.push_back(quote);
  if (dbl) {
    scratch_.clear();
    append_double_quoted_body(scratch_, text);
    write_folded(out_, scratch_, col, opt_.width);
  } else {
    write_folded(out_, text, col, opt_.width);  // holds no "'" to double
  }
  out_.push_back(quote);
}

// ---- entry points -------------------------------------------------------------

void write_yaml(LargeText& out, const YamlValue& root, const WriterOptions& options) {
  YamlWriter writer(out, options);
  writer.write_document(root);
}

std::string dump_yaml(const YamlValue& root, const WriterOptions& options, std::size_t size_hint) {
  LargeText out;
  out.reserve(size_hint > 1024 ? size_hint : 1024);
  write_yaml(out, root, options);
  return std::string(out.data(), out.size());
}

}  // namespace kestrine
