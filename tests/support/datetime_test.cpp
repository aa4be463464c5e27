#include "support/datetime.h"

#include <time.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

namespace razere {
namespace {

TEST(DateTimeEncode, KnownDates) {
  const struct {
    int y, mo, d, h, mi, s, ms;
    double expected;
  } cases[] = {
      {1899, 12, 30, 0, 0, 0, 0, 0.0},
      {1900, 1, 1, 0, 0, 0, 0, 2.0},
      {2000, 1, 1, 0, 0, 0, 0, 36526.0},
      {2024, 2, 29, 12, 0, 0, 0, 45351.5},
      {2023, 12, 31, 23, 59, 59, 999, 45291.0 + 86399999.0 / 86400000.0},
      {1899, 12, 29, 6, 0, 0, 0, -1.25},  // before the epoch the fraction is subtracted
      {1, 1, 1, 0, 0, 0, 0, -693593.0},
      {9999, 12, 31, 0, 0, 0, 0, 2958465.0},
      {2024, 13, 1, 0, 0, 0, 0, 45658.0},  // month 13 = January of the next year
      {2024, 1, 1, 24, 0, 0, 0, 45293.0},  // hour 24 = next midnight
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(EncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms), c.expected)
        << c.y << "-" << c.mo << "-" << c.d << " " << c.h << ":" << c.mi << ":" << c.s << "." << c.ms;
  }
}

TEST(DateTimeDecode, InvertsEncode) {
  const DateTimeParts cases[] = {
      {1899, 12, 30, 0, 0, 0, 0}, {2024, 2, 29, 12, 34, 56, 789}, {1899, 12, 29, 6, 0, 0, 0},
      {1, 1, 1, 0, 0, 0, 0},      {9999, 12, 31, 23, 59, 59, 999}, {1970, 1, 1, 0, 0, 0, 1},
  };
  for (const auto& c : cases) {
    const auto p = DecodeDateTime(EncodeDateTime(c.year, c.month, c.day, c.hour, c.minute, c.second, c.ms));
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(std::tie(p->year, p->month, p->day, p->hour, p->minute, p->second, p->ms),
              std::tie(c.year, c.month, c.day, c.hour, c.minute, c.second, c.ms));
  }
  // Just below midnight rounds up into the next day.
  const auto p = DecodeDateTime(std::nextafter(45352.0, 0.0));
  ASSERT_TRUE(p.has_value());
  EXPECT_EQ(std::tie(p->year, p->month, p->day, p->hour), std::make_tuple(2024, 3, 1, 0));

  for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 1e300,
                     -1e300, -693594.0, 2958466.0}) {
    EXPECT_FALSE(DecodeDateTime(bad).has_value()) << bad;
  }
}

TEST(DateTimeNow, TestClockAndLocalTime) {
  SetClockForTesting(45351.5);
  EXPECT_EQ(NowDateTime(), 45351.5);
  SetClockForTesting(std::nullopt);

  // The real clock lies between two local-time readings taken around it.
  auto local = [](time_t t) {
    tm lt{};
#if defined(_WIN32)
    localtime_s(&lt, &t);
#else
    localtime_r(&t, &lt);
#endif
    return EncodeDateTime(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec);
  };
  const double before = local(time(nullptr));
  const double now = NowDateTime();
  const double after = local(time(nullptr)) + 1.0 / 86400.0;
  EXPECT_LE(before, now);
  EXPECT_LE(now, after);
}

}  // namespace
}  // namespace razere
