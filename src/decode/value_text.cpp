// Texts of values (declared in decode/value.hpp): plain float text, the
// duplicate-key signature and the debug rendering used in messages.
#include "decode/value.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <new>

#include "resolver/resolve.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

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

// Integral floats sign as the integer they equal.
void float_signature(std::string& out, double d) {
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
}

void timestamp_signature(std::string& out, const Timestamp& ts) {
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
}

// `all`: every custom tag counts (the merge fold's identity); else the tags
// that `kept` does not keep are left out (none kept when it is null).
struct SignatureTags {
  bool all = true;
  const KeyTags* kept = nullptr;
};

// Whether converting a key drops `tag` from it (never a merge marker's).
bool dropped_tag(std::string_view tag, const KeyTags* kept) noexcept {
  return tag != kMergeTag && !(kept != nullptr && kept->keeps(tag));
}

void signature_body(std::string& out, const YamlValue& key, SignatureTags tags);

void signature_guarded(std::string& out, const YamlValue& key, SignatureTags tags) {
  stack_guarded([&] { signature_body(out, key, tags); });
}

void signature_body(std::string& out, const YamlValue& key, SignatureTags tags) {
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
    case ValueKind::Float:
      float_signature(out, key.real);
      return;
    case ValueKind::String:
      out += "s:";
      append_uint(out, key.text().size());
      out.push_back(':');
      out += key.text();
      return;
    case ValueKind::Timestamp:
      timestamp_signature(out, key.timestamp());
      return;
    case ValueKind::Sequence: {
      out += "seq:[";
      bool first = true;
      for (const YamlValue& item : key.items()) {
        if (!first) out.push_back(',');
        first = false;
        signature_guarded(out, item, tags);
      }
      out.push_back(']');
      return;
    }
    case ValueKind::Mapping: {
      // A mapping key stands in Python as the tuple of its (key, value)
      // tuples, equal to a sequence key of two-item sequences: signed alike,
      // so that "{a: 1}" meets "[[a, 1]]" and "{}" meets "[]".
      out += "seq:[";
      bool first = true;
      for (const ValuePair& pair : key.pairs()) {
        if (!first) out.push_back(',');
        first = false;
        out += "seq:[";
        signature_guarded(out, pair.key, tags);
        out.push_back(',');
        signature_guarded(out, pair.value, tags);
        out.push_back(']');
      }
      out.push_back(']');
      return;
    }
    case ValueKind::Tagged: {
      const TaggedValue& t = key.tagged();
      // A merge marker inside a key reads as the str "<<" (a key's own
      // merge keys are never folded).
      if (t.tag == kMergeTag) {
        signature_body(out, YamlValue::string_literal("<<"), tags);
        return;
      }
      if (!tags.all && dropped_tag(t.tag, tags.kept)) {
        signature_guarded(out, t.inner, tags);
        return;
      }
      out += "t:";
      out += tags.all ? t.tag : unwrap_verbatim_tag(t.tag);
      out.push_back(':');
      signature_guarded(out, t.inner, tags);
      return;
    }
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

// `Date { year: .., month: .., day: .. }` or `DateTime { .., offset_minutes: Some(..) }`.
void render_timestamp(std::string& out, const Timestamp& ts) {
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
    case ValueKind::Timestamp:
      out += "Timestamp(";
      render_timestamp(out, v.timestamp());
      out.push_back(')');
      return;
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

void write_key_signature(std::string& out, const YamlValue& key) { signature_guarded(out, key, SignatureTags{}); }

void write_key_signature(std::string& out, const YamlValue& key, const KeyTags* tags) {
  signature_guarded(out, key, SignatureTags{false, tags});
}

bool KeyTags::keeps(std::string_view tag) const noexcept {
  if (keep_all) return true;
  const std::string_view name = unwrap_verbatim_tag(tag);
  for (const std::string& kept : names)
    if (kept == name) return true;
  return false;
}

const YamlValue& untag_dropped(const YamlValue& key, const KeyTags* tags) noexcept {
  const YamlValue* v = &key;
  while (v->kind == ValueKind::Tagged && dropped_tag(v->tagged().tag, tags)) v = &v->tagged().inner;
  return *v;
}

void write_key_signature(std::string& out, const ResolvedScalar& key) {
  switch (key.type) {
    case ResolvedScalar::Type::Null:
      signature_body(out, YamlValue::null(), SignatureTags{});
      return;
    case ResolvedScalar::Type::Bool:
      signature_body(out, YamlValue::of_bool(key.boolean), SignatureTags{});
      return;
    case ResolvedScalar::Type::Int:
      signature_body(out, YamlValue::of_int(key.integer), SignatureTags{});
      return;
    case ResolvedScalar::Type::Float:
      signature_body(out, YamlValue::of_float(key.real), SignatureTags{});
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
