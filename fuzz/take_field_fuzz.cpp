// The field splitter on any line and dividers, and the day count on any two
// date-times (record bytes can hold any double, NaN and infinities included).
// Input: one byte n, then n divider bytes (n % 4), then the line; the first
// sixteen bytes, when there are that many, are also read as two doubles.
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "support/fields.h"

using namespace razere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= 16) {
    double later, earlier;
    std::memcpy(&later, data, 8);
    std::memcpy(&earlier, data + 8, 8);
    if (WholeDaysBetween(later, earlier) < 0) fuzz::ReportFinding("a negative day count");
  }
  if (size < 1) return 0;
  const size_t n = std::min<size_t>(data[0] % 4, size - 1);
  const std::string_view dividers(reinterpret_cast<const char*>(data + 1), n);
  std::string rest(reinterpret_cast<const char*>(data + 1 + n), size - 1 - n);
  fuzz::ExpectCleanEnd([&] {
    std::string field;
    while (!rest.empty()) {
      std::string next = TakeField(rest, field, dividers);
      // Each call consumes at least one byte, else a caller's loop never ends.
      if (next.size() >= rest.size()) fuzz::ReportFinding("TakeField returned a remainder that is not shorter");
      if (field.size() > rest.size()) fuzz::ReportFinding("TakeField returned a field longer than its line");
      rest = std::move(next);
    }
  });
  return 0;
}
