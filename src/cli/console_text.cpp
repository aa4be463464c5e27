#include "cli/console_text.h"

#if defined(_WIN32)
#include <windows.h>

#include <string>

#include "support/ansi.h"
#endif

namespace razere::cli {

#if defined(_WIN32)
namespace {

HANDLE ConsoleOf(std::FILE* stream) {
  const HANDLE h = ::GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) ? h : nullptr;
}

}  // namespace

void PrintText(std::FILE* stream, std::string_view text) {
  if (const HANDLE console = ConsoleOf(stream)) {
    std::fflush(stream);  // what printf buffered comes first
    const std::wstring wide = Utf8ToWide(text);
    DWORD written = 0;
    ::WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  const std::string gbk = Utf8ToGbk(text);
  std::fwrite(gbk.data(), 1, gbk.size(), stream);
}

void PrepareConsole() {
  for (std::FILE* stream : {stdout, stderr}) {
    if (const HANDLE console = ConsoleOf(stream)) {
      DWORD mode = 0;
      ::GetConsoleMode(console, &mode);
      // Refused before Windows 10: the escape then shows, the text stays right.
      ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
  }
}
#else
void PrintText(std::FILE* stream, std::string_view text) { std::fwrite(text.data(), 1, text.size(), stream); }

void PrepareConsole() {}
#endif

}  // namespace razere::cli
