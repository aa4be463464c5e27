#include "support/text_util.h"

namespace razere {

std::string_view TrimControls(std::string_view s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

std::optional<int32_t> ParseDecimal(std::string_view s, DecimalSign sign) {
  if (sign == DecimalSign::kPlusThenAny && !s.empty() && s.front() == '+') s.remove_prefix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || (sign == DecimalSign::kOne && s.front() == '+'))) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  // The magnitude may reach 2^31 only for a negative number.
  const int64_t limit = negative ? int64_t{1} << 31 : int64_t{INT32_MAX};
  int64_t magnitude = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > limit) return std::nullopt;
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool StartsWithIgnoringAsciiCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsIgnoringAsciiCase(s.substr(0, prefix.size()), prefix);
}

}  // namespace razere
