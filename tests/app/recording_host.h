// A host that records what a run shows, for tests of the driver.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/progress.h"

namespace razere::testing {

class RecordingHost : public IHost {
 public:
  void PaintProgress(int32_t position, int32_t, int32_t maximum) override {
    lastPosition = position;
    lastMax = maximum;
  }
  void PaintStatus(const std::string& text) override { statuses.push_back(text); }
  void ProcessEvents() override { ++pumps; }
  void ShowMessage(const std::string& text, const std::string& caption) override {
    messages.emplace_back(text, caption);
  }
  bool IsShuttingDown() const override { return shuttingDown; }
  void SetStartEnabled(bool on) override { startEnabled.push_back(on); }

  std::vector<std::string> statuses;
  std::vector<std::pair<std::string, std::string>> messages;
  std::vector<bool> startEnabled;
  int pumps = 0;
  int32_t lastPosition = 0, lastMax = 0;
  bool shuttingDown = false;
};

}  // namespace razere::testing
