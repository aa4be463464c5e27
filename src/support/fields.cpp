#include "support/fields.h"

#include <climits>
#include <cmath>
#include <utility>

#include "support/utf8.h"

namespace razere {

std::string TakeField(std::string_view Str, std::string& Field, std::string_view Dividers) {
  // Every unit takes at least one byte, so a shorter string is under the limit.
  if (Str.empty() ||
      (Str.size() >= kTakeFieldMaxUnits && Utf16Length(Str) >= kTakeFieldMaxUnits)) {
    Field.clear();
    return {};
  }
  bool isDivider[128] = {};
  for (char d : Dividers) {
    const auto b = static_cast<unsigned char>(d);
    if (b < 0x80) isDivider[b] = true;
  }
  auto divider = [&](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x80 && isDivider[b];
  };
  // ASCII dividers never occur inside a multi-byte UTF-8 sequence, so bytes
  // can be walked in place of code units.
  size_t start = 0;
  while (start < Str.size() && divider(Str[start])) ++start;
  size_t end = start;
  while (end < Str.size() && !divider(Str[end])) ++end;
  // Str may view Field's own buffer: build both results before assigning.
  std::string rest = end >= Str.size() ? std::string() : std::string(Str.substr(end + 1));
  std::string field(Str.substr(start, end - start));
  Field = std::move(field);
  return rest;
}

std::vector<std::string_view> SplitFields(std::string_view Str, std::string_view Dividers) {
  std::vector<std::string_view> out;
  if (Str.size() >= kTakeFieldMaxUnits && Utf16Length(Str) >= kTakeFieldMaxUnits) return out;
  auto divider = [Dividers](char c) {
    return static_cast<unsigned char>(c) < 0x80 && Dividers.find(c) != std::string_view::npos;
  };
  size_t i = 0;
  while (i < Str.size()) {
    while (i < Str.size() && divider(Str[i])) ++i;
    const size_t start = i;
    while (i < Str.size() && !divider(Str[i])) ++i;
    if (i > start) out.push_back(Str.substr(start, i - start));
  }
  return out;
}

int32_t WholeDaysBetween(double Later, double Earlier) {
  const double d = std::trunc(Later) - std::trunc(Earlier);
  if (!(d > 0)) return 0;  // also NaN
  if (d >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(d);
}

}  // namespace razere
