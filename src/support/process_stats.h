// What the running process has cost so far, for benchmarks: bytes through
// read and write calls, CPU seconds and peak resident memory. Fields the
// platform cannot tell stay 0.
#pragma once

#include <cstdint>
#include <string>

namespace razere {

struct ProcessStats {
  uint64_t readBytes = 0;     // through read calls, cached or not (Linux: rchar)
  uint64_t writtenBytes = 0;  // through write calls (Linux: wchar)
  double userSeconds = 0;
  double systemSeconds = 0;
  uint64_t peakResidentBytes = 0;
};

ProcessStats CurrentProcessStats();

// One "name value" line per field.
std::string FormatProcessStats(const ProcessStats& stats);

}  // namespace razere
