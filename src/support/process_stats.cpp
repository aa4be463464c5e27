#include "support/process_stats.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#if defined(__unix__)
#include <sys/resource.h>
#endif

namespace razere {

ProcessStats CurrentProcessStats() {
  ProcessStats s;
#if defined(__linux__)
  std::ifstream io("/proc/self/io");
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") s.readBytes = value;
    if (key == "wchar:") s.writtenBytes = value;
  }
#endif
#if defined(__unix__)
  struct rusage ru {};
  if (getrusage(RUSAGE_SELF, &ru) == 0) {
    s.userSeconds = static_cast<double>(ru.ru_utime.tv_sec) + static_cast<double>(ru.ru_utime.tv_usec) / 1e6;
    s.systemSeconds = static_cast<double>(ru.ru_stime.tv_sec) + static_cast<double>(ru.ru_stime.tv_usec) / 1e6;
    s.peakResidentBytes = static_cast<uint64_t>(ru.ru_maxrss) * 1024;  // KiB on Linux
  }
#endif
  return s;
}

std::string FormatProcessStats(const ProcessStats& s) {
  std::ostringstream out;
  out << "rchar " << s.readBytes << "\n"
      << "wchar " << s.writtenBytes << "\n"
      << "utime " << s.userSeconds << "\n"
      << "stime " << s.systemSeconds << "\n"
      << "maxrss " << s.peakResidentBytes << "\n";
  return out.str();
}

}  // namespace razere
