// The command line's host: messages and status on standard error.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "support/progress.h"

namespace razere::cli {

class CliHost : public IHost {
 public:
  // quiet: no status at all. On a terminal the status line is redrawn in
  // place (at most ten times a second); otherwise only the last status of
  // each stage is printed, as a line, when the next stage begins.
  CliHost(bool quiet, bool terminal);
  ~CliHost() override;

  void PaintProgress(int32_t, int32_t, int32_t) override {}
  void PaintStatus(const std::string& text) override;
  void ProcessEvents() override {}
  void ShowMessage(const std::string& text, const std::string& caption) override;
  bool IsShuttingDown() const override;

  // Prints what is still pending of the status (the last stage's line).
  void Finish();

  // Installs SIGINT and SIGTERM handlers that make IsShuttingDown true.
  static void InstallSignalHandlers();

 private:
  void EndStatusLine();

  bool quiet_;
  bool terminal_;
  bool lineOpen_ = false;  // a status line is drawn without its newline
  std::string pending_;    // last status of the current stage (no terminal)
  std::string pendingKey_;
  std::string undrawn_;    // newest status skipped by the redraw limit
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace razere::cli
