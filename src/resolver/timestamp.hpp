// YAML 1.1 timestamps: the record, the hand-written parser and the writer.
//
// A plain, untagged scalar that the current mode reads as a string becomes a
// timestamp when the load asks for timestamps and `parse_timestamp` accepts
// its text.  `format_timestamp` gives the canonical text that the writers
// emit and that key signatures and merge fingerprints compare.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace kestrine {

struct Date {
  std::int32_t year = 1;
  std::uint8_t month = 1;
  std::uint8_t day = 1;

  friend bool operator==(const Date&, const Date&) = default;
};

struct DateTime {
  std::int32_t year = 1;
  std::uint8_t month = 1;
  std::uint8_t day = 1;
  std::uint8_t hour = 0;
  std::uint8_t minute = 0;
  std::uint8_t second = 0;
  std::uint32_t microsecond = 0;               // below 1'000'000
  std::optional<std::int32_t> offset_minutes;  // minutes east of UTC; absent: no zone written

  friend bool operator==(const DateTime&, const DateTime&) = default;
};

using Timestamp = std::variant<Date, DateTime>;

// Reads a YAML 1.1 timestamp ("2001-12-14", "2001-12-14t21:59:43.10-05:00",
// "2001-12-14 21:59:43.10 -5", ...).  Nothing when the text is not one.
// Never allocates.
std::optional<Timestamp> parse_timestamp(std::string_view text) noexcept;

// "YYYY-MM-DD" for a date; "YYYY-MM-DDTHH:MM:SS[.ffffff][+HH:MM]" for a
// date-time (fraction only when non-zero; a zero offset is "+00:00").
std::string format_timestamp(const Timestamp& ts);
// The same text appended to `out` (no temporary string).
void append_timestamp(std::string& out, const Timestamp& ts);

// Year 1..9999, month 1..12, day within the month (Gregorian leap years).
bool is_valid_date(std::int32_t year, std::uint32_t month, std::uint32_t day) noexcept;

// Cursor steps used by the parser; `pos` advances past what was read.
// One digit and, when the next character is a digit, a second.
std::optional<std::uint32_t> timestamp_read_1_or_2_digits(std::string_view text,
                                                          std::size_t& pos) noexcept;
// "T"/"t" alone, or a whole run of spaces and tabs.  False at anything else.
bool timestamp_separator(std::string_view text, std::size_t& pos) noexcept;
// Between `min_count` and `max_count` digits (max_count 0: unlimited); the
// value saturates, so callers that read unlimited runs only use the count.
std::optional<std::uint64_t> timestamp_read_digits(std::string_view text, std::size_t& pos,
                                                   std::size_t min_count,
                                                   std::size_t max_count) noexcept;

}  // namespace kestrine
