// Date-times are doubles: days since 1899-12-30 00:00 local time, the
// fraction being the time of day.
#pragma once

#include <cstdint>
#include <optional>

namespace razere {

// The core's clock: local now (millisecond precision), or the test clock when set.
double NowDateTime();

// Fixes the clock NowDateTime returns; nullopt returns to the real clock.
void SetClockForTesting(std::optional<double> fixedNow);

// A calendar date and time of day as a date-time (proleptic Gregorian; no
// range check beyond what the arithmetic needs).
double EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0);

struct DateTimeParts {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0, ms = 0;
};

// The inverse of EncodeDateTime, rounded to the nearest millisecond. Values
// that are not finite or lie outside years 1..9999 give nullopt.
std::optional<DateTimeParts> DecodeDateTime(double dt);

}  // namespace razere
