// The calendar under every date: day numbers and back, over the whole
// range a date word holds, years before 0 included.
#include <gtest/gtest.h>

#include <cstdint>

#include "runtime/datatypes/date.h"

namespace kiv {
namespace {

int days_in(int64_t year, int32_t month) {
  static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && date::leap_year(year) ? 29 : days[month - 1];
}

// Walking day by day from the first day of the range, each day number gives
// the next calendar day, and that day gives the day number back.
TEST(Calendar, EveryDayNumberIsTheNextDay) {
  int64_t year = date::min_year;
  int32_t month = 1;
  int32_t day = 1;
  const int64_t first = date::to_days(year, month, day);
  const int64_t last = date::to_days(date::max_year, 12, 31);
  for (int64_t g = first; g <= last; ++g) {
    const date::Ymd ymd = date::from_days(g);
    ASSERT_EQ(ymd.year, year) << g;
    ASSERT_EQ(ymd.month, month) << g;
    ASSERT_EQ(ymd.day, day) << g;
    ASSERT_EQ(date::to_days(year, month, day), g);
    if (++day > days_in(year, month)) {
      day = 1;
      if (++month > 12) month = 1, ++year;
    }
  }
}

TEST(Calendar, FixedDays) {
  EXPECT_EQ(date::to_days(0, 3, 1), 0);
  EXPECT_EQ(date::to_days(1970, 1, 1), date::epoch_day);
  EXPECT_EQ(date::to_days(2000, 1, 1), 730425);
  // a day of 0 is the day before the first of the month
  EXPECT_EQ(date::to_days(2000, 3, 0), date::to_days(2000, 2, 29));
  EXPECT_TRUE(date::leap_year(0));
  EXPECT_FALSE(date::leap_year(-1));
  EXPECT_TRUE(date::leap_year(-4));
  EXPECT_FALSE(date::leap_year(-100));
  EXPECT_TRUE(date::leap_year(-400));
}

TEST(Calendar, ZoneCodesTakeTheSignOfTheWholeOffset) {
  EXPECT_EQ(date::zone_seconds(date::zone_code(-30)), -1800);
  EXPECT_EQ(date::zone_seconds(date::zone_code(-45)), -2700);
  EXPECT_EQ(date::zone_seconds(date::zone_code(-330)), -19800);
  EXPECT_EQ(date::zone_seconds(date::zone_code(945)), 56700);
  EXPECT_EQ(date::zone_code(0), 0u);
}

}  // namespace
}  // namespace kiv
