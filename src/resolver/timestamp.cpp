#include "resolver/timestamp.hpp"

#include <cstdlib>

#include "resolver/text_util.hpp"

namespace kestrine {

namespace {

using resolver_detail::is_digit;

constexpr bool is_blank(char c) noexcept { return c == ' ' || c == '\t'; }

void skip_blanks(std::string_view text, std::size_t& pos) noexcept {
  while (pos < text.size() && is_blank(text[pos])) ++pos;
}

// Writes `value` as exactly `width` digits (zero-padded) into out.
void append_padded(std::string& out, std::uint32_t value, int width) {
  char buf[12];
  int n = 0;
  do {
    buf[n++] = char('0' + value % 10);
    value /= 10;
  } while (value != 0 && n < 11);
  while (n < width) buf[n++] = '0';
  while (n > 0) out.push_back(buf[--n]);
}

void append_year(std::string& out, std::int32_t year) {
  if (year < 0) out.push_back('-');
  append_padded(out, std::uint32_t(year < 0 ? -std::int64_t(year) : year), 4);
}

}  // namespace

bool is_valid_date(std::int32_t year, std::uint32_t month, std::uint32_t day) noexcept {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static constexpr std::uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  std::uint32_t limit = kDays[month - 1];
  if (month == 2 && year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) limit = 29;
  return day <= limit;
}

std::optional<std::uint32_t> timestamp_read_1_or_2_digits(std::string_view text,
                                                          std::size_t& pos) noexcept {
  if (pos >= text.size() || !is_digit(text[pos])) return std::nullopt;
  std::uint32_t v = std::uint32_t(text[pos++] - '0');
  if (pos < text.size() && is_digit(text[pos])) v = v * 10 + std::uint32_t(text[pos++] - '0');
  return v;
}

bool timestamp_separator(std::string_view text, std::size_t& pos) noexcept {
  if (pos >= text.size()) return false;
  if (text[pos] == 'T' || text[pos] == 't') {
    ++pos;
    return true;
  }
  if (!is_blank(text[pos])) return false;
  skip_blanks(text, pos);
  return true;
}

std::optional<std::uint64_t> timestamp_read_digits(std::string_view text, std::size_t& pos,
                                                   std::size_t min_count,
                                                   std::size_t max_count) noexcept {
  std::size_t count = 0;
  std::uint64_t value = 0;
  while (pos < text.size() && is_digit(text[pos]) && (max_count == 0 || count < max_count)) {
    if (value < (std::uint64_t(1) << 59)) value = value * 10 + std::uint64_t(text[pos] - '0');
    ++pos;
    ++count;
  }
  if (count < min_count) return std::nullopt;
  return value;
}

namespace {

// An optional "." and fraction digits, as microseconds (digits past the sixth
// are dropped).
std::uint32_t read_fraction(std::string_view text, std::size_t& pos) noexcept {
  std::uint32_t micro = 0;
  if (pos >= text.size() || text[pos] != '.') return micro;
  ++pos;
  std::size_t n = 0;
  while (pos < text.size() && is_digit(text[pos])) {
    if (n < 6) micro = micro * 10 + std::uint32_t(text[pos] - '0');
    ++n;
    ++pos;
  }
  for (; n < 6; ++n) micro *= 10;
  return micro;
}

// Optional blanks and an optional zone ("Z", or a sign, one or two hour
// digits and optionally ":MM") ending the text; `offset` in minutes when a
// zone is present.  False when something else follows.
bool read_zone(std::string_view text, std::size_t& pos, std::optional<std::int32_t>& offset) noexcept {
  skip_blanks(text, pos);
  if (pos == text.size()) return true;
  const char z = text[pos];
  if (z == 'Z' || z == 'z') {
    ++pos;
    offset = 0;
  } else if (z == '+' || z == '-') {
    ++pos;
    auto oh = timestamp_read_1_or_2_digits(text, pos);
    if (!oh) return false;
    std::uint32_t om = 0;
    if (pos < text.size() && text[pos] == ':') {
      ++pos;
      auto m = timestamp_read_digits(text, pos, 2, 2);
      if (!m) return false;
      om = std::uint32_t(*m);
    }
    const std::int32_t total = std::int32_t(*oh * 60 + om);
    offset = z == '-' ? -total : total;
  } else {
    return false;
  }
  skip_blanks(text, pos);
  return pos == text.size();
}

}  // namespace

std::optional<Timestamp> parse_timestamp(std::string_view text) noexcept {
  std::size_t pos = 0;
  auto year = timestamp_read_digits(text, pos, 4, 4);
  if (!year || pos >= text.size() || text[pos] != '-') return std::nullopt;
  ++pos;
  const std::size_t month_at = pos;
  auto month = timestamp_read_1_or_2_digits(text, pos);
  const bool month_two = pos - month_at == 2;
  if (!month || pos >= text.size() || text[pos] != '-') return std::nullopt;
  ++pos;
  const std::size_t day_at = pos;
  auto day = timestamp_read_1_or_2_digits(text, pos);
  if (!day) return std::nullopt;
  const bool day_two = pos - day_at == 2;
  const auto y = std::int32_t(*year);
  if (pos == text.size()) {
    if (!month_two || !day_two || !is_valid_date(y, *month, *day)) return std::nullopt;
    return Date{y, std::uint8_t(*month), std::uint8_t(*day)};
  }
  if (!timestamp_separator(text, pos)) return std::nullopt;
  auto hour = timestamp_read_1_or_2_digits(text, pos);
  if (!hour || pos >= text.size() || text[pos] != ':') return std::nullopt;
  ++pos;
  auto minute = timestamp_read_digits(text, pos, 2, 2);
  if (!minute || pos >= text.size() || text[pos] != ':') return std::nullopt;
  ++pos;
  auto second = timestamp_read_digits(text, pos, 2, 2);
  if (!second) return std::nullopt;

  const std::uint32_t micro = read_fraction(text, pos);
  std::optional<std::int32_t> offset;
  if (!read_zone(text, pos, offset)) return std::nullopt;

  if (*hour > 23 || *minute > 59 || *second > 59 || !is_valid_date(y, *month, *day))
    return std::nullopt;
  if (offset && std::abs(*offset) > 1439) return std::nullopt;
  DateTime dt;
  dt.year = y;
  dt.month = std::uint8_t(*month);
  dt.day = std::uint8_t(*day);
  dt.hour = std::uint8_t(*hour);
  dt.minute = std::uint8_t(*minute);
  dt.second = std::uint8_t(*second);
  dt.microsecond = micro;
  dt.offset_minutes = offset;
  return dt;
}

void append_timestamp(std::string& out, const Timestamp& ts) {
  if (const Date* d = std::get_if<Date>(&ts)) {
    append_year(out, d->year);
    out.push_back('-');
    append_padded(out, d->month, 2);
    out.push_back('-');
    append_padded(out, d->day, 2);
    return;
  }
  const DateTime& t = std::get<DateTime>(ts);
  append_year(out, t.year);
  out.push_back('-');
  append_padded(out, t.month, 2);
  out.push_back('-');
  append_padded(out, t.day, 2);
  out.push_back('T');
  append_padded(out, t.hour, 2);
  out.push_back(':');
  append_padded(out, t.minute, 2);
  out.push_back(':');
  append_padded(out, t.second, 2);
  if (t.microsecond != 0) {
    out.push_back('.');
    append_padded(out, t.microsecond, 6);
  }
  if (t.offset_minutes) {
    const std::int32_t off = *t.offset_minutes;
    out.push_back(off >= 0 ? '+' : '-');
    const std::uint32_t a = std::uint32_t(off >= 0 ? off : -std::int64_t(off));
    append_padded(out, a / 60, 2);
    out.push_back(':');
    append_padded(out, a % 60, 2);
  }
}

std::string format_timestamp(const Timestamp& ts) {
  std::string out;
  out.reserve(32);
  append_timestamp(out, ts);
  return out;
}

}  // namespace kestrine
