#include "support/datetime.h"

#if defined(_WIN32)
#include <windows.h>
#endif
#include <time.h>

#include <cmath>
#include <mutex>

namespace razere {

namespace {

constexpr int64_t kMsPerDay = 86'400'000;

std::mutex g_clockMutex;
std::optional<double> g_fixedNow;

constexpr int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Days from 1970-01-01 of a proleptic Gregorian date (month 1..12).
constexpr int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = FloorDiv(y, 400);
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int& m, int& d) {
  z += 719468;
  const int64_t era = FloorDiv(z, 146097);
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  if (m <= 2) ++y;
}

constexpr int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);  // 1899-12-30 in days from 1970-01-01

// Day number and time of day as a date-time. Before the epoch the fraction
// still counts forward from midnight, so it is subtracted: -1.25 is
// 1899-12-29 06:00.
double Combine(int64_t day, int64_t msOfDay) {
  const double frac = static_cast<double>(msOfDay) / kMsPerDay;
  return day >= 0 ? static_cast<double>(day) + frac : static_cast<double>(day) - frac;
}

}  // namespace

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms) {
  // Months outside 1..12 roll into neighbouring years; days, hours and the
  // rest simply add up, so out-of-range parts give the arithmetic result.
  const int64_t m0 = static_cast<int64_t>(month) - 1;
  const int64_t y = static_cast<int64_t>(year) + FloorDiv(m0, 12);
  const int64_t m = m0 - FloorDiv(m0, 12) * 12 + 1;
  int64_t days = DaysFromCivil(y, m, 1) + (static_cast<int64_t>(day) - 1) - kEpochOffset;
  const int64_t timeMs = static_cast<int64_t>(hour) * 3'600'000 + static_cast<int64_t>(minute) * 60'000 +
                         static_cast<int64_t>(second) * 1000 + ms;
  days += FloorDiv(timeMs, kMsPerDay);
  return Combine(days, timeMs - FloorDiv(timeMs, kMsPerDay) * kMsPerDay);
}

std::optional<DateTimeParts> DecodeDateTime(double dt) {
  // Years 1..9999 lie within about +-3.7 million days of the epoch.
  if (!std::isfinite(dt) || dt < -700000.0 || dt > 3000000.0) return std::nullopt;
  const double whole = std::trunc(dt);
  const double frac = std::fabs(dt - whole);
  auto day = static_cast<int64_t>(whole);
  auto msOfDay = static_cast<int64_t>(std::llround(frac * kMsPerDay));
  if (msOfDay >= kMsPerDay) {
    // Rounded up to the next midnight: one day later in the calendar.
    msOfDay -= kMsPerDay;
    day += 1;
  }
  int64_t y = 0;
  DateTimeParts p;
  CivilFromDays(day + kEpochOffset, y, p.month, p.day);
  if (y < 1 || y > 9999) return std::nullopt;
  p.year = static_cast<int>(y);
  p.hour = static_cast<int>(msOfDay / 3'600'000);
  p.minute = static_cast<int>(msOfDay / 60'000 % 60);
  p.second = static_cast<int>(msOfDay / 1000 % 60);
  p.ms = static_cast<int>(msOfDay % 1000);
  return p;
}

double NowDateTime() {
  {
    std::lock_guard<std::mutex> lock(g_clockMutex);
    if (g_fixedNow) return *g_fixedNow;
  }
#if defined(_WIN32)
  SYSTEMTIME local{};
  ::GetLocalTime(&local);
  return EncodeDateTime(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                        local.wMilliseconds);
#else
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  const time_t secs = ts.tv_sec;
  if (localtime_r(&secs, &local) == nullptr) gmtime_r(&secs, &local);
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                        local.tm_sec < 60 ? local.tm_sec : 59, static_cast<int>(ts.tv_nsec / 1'000'000));
#endif
}

void SetClockForTesting(std::optional<double> fixedNow) {
  std::lock_guard<std::mutex> lock(g_clockMutex);
  g_fixedNow = fixedNow;
}

}  // namespace razere
