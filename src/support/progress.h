// The host interface and the progress arithmetic shared by every stage.
//
// The core never talks to a window or a terminal directly: whoever starts a
// run supplies an IHost that paints, pumps events, shows messages and says
// whether the program is shutting down. Progress keeps the bar's range and
// position and implements the status-text rules once for all hosts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace razere {

class IHost {
 public:
  virtual ~IHost() = default;
  // The bar's state after every change of range or position.
  virtual void PaintProgress(int32_t position, int32_t minimum, int32_t maximum) = 0;
  // The status label's caption, UTF-8.
  virtual void PaintStatus(const std::string& text) = 0;
  // Lets pending window messages run (a no-op for hosts without a loop).
  virtual void ProcessEvents() = 0;
  // A modal message box (OK button, question-mark icon). UTF-8 texts.
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
  // True once the program has been asked to end; long loops stop early.
  virtual bool IsShuttingDown() const = 0;
  // The start button: disabled while a run works (closing is refused then).
  virtual void SetStartEnabled(bool) {}
};

// A host that shows nothing and never shuts down; for tests and tools.
class NullHost : public IHost {
 public:
  void PaintProgress(int32_t, int32_t, int32_t) override {}
  void PaintStatus(const std::string&) override {}
  void ProcessEvents() override {}
  void ShowMessage(const std::string&, const std::string&) override {}
  bool IsShuttingDown() const override { return false; }
};

// Replaces the first "%d" (either case) of text by position and the next one
// by maximum, in decimal.
std::string FillStatusText(std::string_view text, int32_t position, int32_t maximum);

class Progress {
 public:
  Progress();
  explicit Progress(IHost& host) : host_(&host) {}

  void SetHost(IHost& host) { host_ = &host; }
  IHost& Host() const { return *host_; }

  int32_t Position() const { return position_; }
  int32_t Min() const { return min_; }
  int32_t Max() const { return max_; }
  const std::string& Caption() const { return caption_; }

  // The position is kept within min..max, as a progress bar does.
  void SetRange(int32_t minimum, int32_t maximum);
  void SetMax(int32_t maximum);
  void SetPosition(int32_t position);

  // Adds Value (when positive) to the position, fills the first two "%d" of
  // sText with position and maximum, shows the result, and pumps events when
  // the position is a multiple of 100. Throws RunInterrupted when the host is
  // shutting down and interruption is armed, so no loop that reports progress
  // can end early and still let the run finish as complete.
  void ShowStatusText(int32_t Value, std::string_view sText);
  // Shows text as it is, for steps whose numbers are not the bar's.
  void ShowText(std::string text);

  // Armed by default; the driver disarms it for work that must not stop
  // halfway once the new data set is complete.
  void SetInterruptible(bool on) { interruptible_ = on; }
  void ThrowIfInterrupted() const;

  void ProcessEvents() { host_->ProcessEvents(); }
  bool IsShuttingDown() const { return host_->IsShuttingDown(); }

 private:
  void Paint() { host_->PaintProgress(position_, min_, max_); }

  IHost* host_;
  bool interruptible_ = true;
  int32_t min_ = 0;
  int32_t max_ = 100;
  int32_t position_ = 0;
  std::string caption_;
};

}  // namespace razere
