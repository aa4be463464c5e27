#include "cli/cli_host.h"

#include <csignal>
#include <cstdio>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "cli/console_text.h"

namespace razere::cli {

namespace {

volatile std::sig_atomic_t g_shutdown = 0;

#if defined(_WIN32)
// Ctrl-C, Ctrl-Break, the console closed, the user logging off or the
// system shutting down: the same request to stop as SIGINT/SIGTERM.
BOOL WINAPI OnConsoleEvent(DWORD) {
  g_shutdown = 1;
  return TRUE;
}
#else
extern "C" void OnSignal(int) { g_shutdown = 1; }
#endif

// A status text with its numbers removed: the same key for every call of
// one stage's progress loop.
std::string StageKey(const std::string& text) {
  std::string key;
  for (char c : text) {
    if (c < '0' || c > '9') key += c;
  }
  return key;
}

}  // namespace

CliHost::CliHost(bool quiet, bool terminal) : quiet_(quiet), terminal_(terminal) {}

CliHost::~CliHost() { Finish(); }

void CliHost::InstallSignalHandlers() {
#if defined(_WIN32)
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
#endif
}

bool CliHost::IsShuttingDown() const { return g_shutdown != 0; }

void CliHost::PaintStatus(const std::string& text) {
  if (quiet_) return;
  if (terminal_) {
    auto now = std::chrono::steady_clock::now();
    if (lineOpen_ && now - lastDraw_ < std::chrono::milliseconds(100)) {
      undrawn_ = text;
      return;
    }
    lastDraw_ = now;
    undrawn_.clear();
    PrintText(stderr, "\r\033[K" + text);
    std::fflush(stderr);
    lineOpen_ = true;
    return;
  }
  std::string key = StageKey(text);
  if (!pending_.empty() && key != pendingKey_) {
    PrintText(stderr, pending_ + "\n");
  }
  pending_ = text;
  pendingKey_ = std::move(key);
}

void CliHost::EndStatusLine() {
  if (lineOpen_) {
    std::fputc('\n', stderr);
    lineOpen_ = false;
  }
}

void CliHost::ShowMessage(const std::string& text, const std::string&) {
  EndStatusLine();
  PrintText(stderr, text + "\n");
  std::fflush(stderr);
}

void CliHost::Finish() {
  if (terminal_ && !undrawn_.empty()) {
    PrintText(stderr, "\r\033[K" + undrawn_);
    undrawn_.clear();
    lineOpen_ = true;
  }
  EndStatusLine();
  if (!pending_.empty()) {
    PrintText(stderr, pending_ + "\n");
    pending_.clear();
  }
  std::fflush(stderr);
}

}  // namespace razere::cli
