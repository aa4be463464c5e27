// The field splitter of the server's text lines and the whole-day count of
// two date-times.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace razere {

// Lines of this many UTF-16 code units or more are treated as empty.
inline constexpr size_t kTakeFieldMaxUnits = 204799;

// Splits the first field off Str (UTF-8). Leading dividers are skipped; the
// field runs to the next divider, and the returned remainder is everything
// after that one divider (later dividers stay). With no divider after the
// field, the remainder is empty; a line of dividers only gives an empty field.
// A Str of kTakeFieldMaxUnits UTF-16 code units or more gives an empty field
// and an empty remainder. Dividers are ASCII; other bytes in Dividers are
// ignored so that no multi-byte character is ever split.
std::string TakeField(std::string_view Str, std::string& Field, std::string_view Dividers);

// Every field that repeated TakeField calls with these dividers give, in one
// pass: the runs of non-dividers, views into Str. A Str of
// kTakeFieldMaxUnits UTF-16 code units or more has none.
std::vector<std::string_view> SplitFields(std::string_view Str, std::string_view Dividers);

// Whole days from Earlier to Later (date-times: days since 1899-12-30, the
// fraction being the time of day): each truncated towards zero, then
// subtracted; 0 when negative or not a number, at most INT32_MAX.
int32_t WholeDaysBetween(double Later, double Earlier);

}  // namespace razere
