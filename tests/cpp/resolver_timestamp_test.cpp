// YAML 1.1 timestamps: parsing, validation and the written-back text.
#include <gtest/gtest.h>

#include "resolver/timestamp.hpp"

namespace kestrine {
namespace {

DateTime parse_dt(std::string_view text) {
  auto ts = parse_timestamp(text);
  EXPECT_TRUE(ts) << text;
  if (!ts || !std::holds_alternative<DateTime>(*ts)) {
    ADD_FAILURE() << "not a date-time: " << text;
    return {};
  }
  return std::get<DateTime>(*ts);
}

TEST(ResolverTimestamp, Dates) {
  auto ts = parse_timestamp("2002-12-14");
  ASSERT_TRUE(ts);
  EXPECT_EQ(std::get<Date>(*ts), (Date{2002, 12, 14}));
  EXPECT_EQ(format_timestamp(*ts), "2002-12-14");
  EXPECT_TRUE(parse_timestamp("2000-02-29"));
  EXPECT_TRUE(parse_timestamp("9999-12-31"));
  for (auto t : {"2002-1-5", "2002-12-14 ", "2002-12-14\t", "1900-02-29", "2002-02-29", "0000-01-01",
                 "2002-13-01", "2002-04-31", "2002-00-10", "02-12-14", "20021-12-14", "2002/12/14",
                 "2002-12-1x", "", "2002-12-"})
    EXPECT_FALSE(parse_timestamp(t)) << t;
}

TEST(ResolverTimestamp, DateTimesWithOffsetsAndFractions) {
  DateTime a = parse_dt("2001-12-14t21:59:43.10-05:00");
  EXPECT_EQ(a.hour, 21);
  EXPECT_EQ(a.minute, 59);
  EXPECT_EQ(a.second, 43);
  EXPECT_EQ(a.microsecond, 100000u);
  EXPECT_EQ(a.offset_minutes, -300);
  EXPECT_EQ(format_timestamp(a), "2001-12-14T21:59:43.100000-05:00");

  DateTime b = parse_dt("2001-12-14 21:59:43.10 -5");
  EXPECT_EQ(b.offset_minutes, -300);
  DateTime c = parse_dt("2001-12-15 2:59:43.10");
  EXPECT_EQ(c.hour, 2);
  EXPECT_FALSE(c.offset_minutes);
  DateTime z = parse_dt("2001-12-14T21:59:43Z");
  EXPECT_EQ(z.offset_minutes, 0);
  EXPECT_EQ(format_timestamp(z), "2001-12-14T21:59:43+00:00");
  EXPECT_EQ(parse_dt("2001-12-14T21:59:43 z").offset_minutes, 0);
  EXPECT_EQ(parse_dt("2001-12-14T21:59:43+23:59").offset_minutes, 1439);
  EXPECT_EQ(parse_dt("2001-12-14T21:59:43+01:99").offset_minutes, 159);
  EXPECT_EQ(parse_dt("2001-12-14T21:59:43+05:30  ").offset_minutes, 330);
  DateTime d = parse_dt("2002-1-5 10:00:00");
  EXPECT_EQ(d.month, 1);
  EXPECT_EQ(d.day, 5);
  EXPECT_EQ(format_timestamp(d), "2002-01-05T10:00:00");
  EXPECT_EQ(parse_dt("2001-12-14 \t 21:59:43").hour, 21);

  EXPECT_EQ(parse_dt("2001-12-14T21:59:43.").microsecond, 0u);
  EXPECT_EQ(parse_dt("2001-12-14T21:59:43.1234567").microsecond, 123456u);
  EXPECT_EQ(parse_dt("2001-12-14T21:59:43.000001").microsecond, 1u);
  EXPECT_EQ(parse_dt("2001-12-14T21:59:43." + std::string(1000, '9')).microsecond, 999999u);
  EXPECT_EQ(format_timestamp(parse_dt("2001-12-14T21:59:43.000001")), "2001-12-14T21:59:43.000001");
  EXPECT_EQ(format_timestamp(parse_dt("2001-12-14T21:59:43")), "2001-12-14T21:59:43");
  EXPECT_EQ(format_timestamp(parse_dt("2001-12-14T21:59:43-00:30")), "2001-12-14T21:59:43-00:30");
}

TEST(ResolverTimestamp, RejectedDateTimes) {
  for (auto t : {"2001-12-14T21:59:43+0530", "2001-12-14T21:59:43+24:00", "2001-12-14T21:59:43-24",
                 "2001-12-14T24:00:00", "2001-12-14T21:60:00", "2001-12-14T21:59:60",
                 "2001-12-14T21:59", "2001-12-14T21:5:43", "2001-12-14T21:59:4", "2001-12-14TT21:59:43",
                 "2001-12-14T 21:59:43", "2001-12-14x21:59:43", "2001-12-14T21:59:43 +", "2001-12-14T21:59:43 x",
                 "2001-12-14T21:59:43Z x", "2001-12-14T21:59:43+05:3", "2001-12-14T123:59:43",
                 "2001-02-30T10:00:00", "2001-12-14T21:59:43.5.5"})
    EXPECT_FALSE(parse_timestamp(t)) << t;
}

TEST(ResolverTimestamp, ValidDatesAndCursorSteps) {
  EXPECT_TRUE(is_valid_date(2000, 2, 29));
  EXPECT_TRUE(is_valid_date(2004, 2, 29));
  EXPECT_FALSE(is_valid_date(2100, 2, 29));
  EXPECT_FALSE(is_valid_date(10000, 1, 1));
  EXPECT_FALSE(is_valid_date(2001, 12, 0));

  std::size_t pos = 0;
  EXPECT_EQ(timestamp_read_1_or_2_digits("123", pos), 12u);
  EXPECT_EQ(pos, 2u);
  pos = 0;
  EXPECT_TRUE(timestamp_separator(" \t 1", pos));
  EXPECT_EQ(pos, 3u);
  pos = 0;
  EXPECT_FALSE(timestamp_separator("x", pos));
  pos = 0;
  EXPECT_FALSE(timestamp_read_digits("12x", pos, 3, 3));
  pos = 0;
  EXPECT_EQ(timestamp_read_digits("12345", pos, 1, 0), 12345u);
  EXPECT_EQ(pos, 5u);
}

}  // namespace
}  // namespace kestrine
