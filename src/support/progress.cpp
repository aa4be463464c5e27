#include "support/progress.h"

#include <algorithm>

#include "support/errors.h"

namespace razere {

namespace {

// Position of the first "%d" or "%D" at or after from, or npos.
size_t FindPercentD(std::string_view text, size_t from) {
  for (size_t i = from; i + 1 < text.size(); ++i) {
    if (text[i] == '%' && (text[i + 1] == 'd' || text[i + 1] == 'D')) return i;
  }
  return std::string_view::npos;
}

}  // namespace

std::string FillStatusText(std::string_view text, int32_t position, int32_t maximum) {
  std::string out(text);
  size_t at = FindPercentD(out, 0);
  if (at == std::string::npos) return out;
  std::string pos = std::to_string(position);
  out.replace(at, 2, pos);
  at = FindPercentD(out, at + pos.size());
  if (at != std::string::npos) out.replace(at, 2, std::to_string(maximum));
  return out;
}

namespace {
NullHost g_null_host;
}

Progress::Progress() : host_(&g_null_host) {}

void Progress::ThrowIfInterrupted() const {
  if (interruptible_ && host_->IsShuttingDown()) throw RunInterrupted();
}

void Progress::SetRange(int32_t minimum, int32_t maximum) {
  min_ = minimum;
  max_ = std::max(minimum, maximum);
  position_ = std::clamp(position_, min_, max_);
  Paint();
}

void Progress::SetMax(int32_t maximum) { SetRange(min_, maximum); }

void Progress::SetPosition(int32_t position) {
  position_ = std::clamp(position, min_, max_);
  Paint();
}

void Progress::ShowStatusText(int32_t Value, std::string_view sText) {
  if (Value > 0) {
    int64_t next = static_cast<int64_t>(position_) + Value;
    position_ = static_cast<int32_t>(std::clamp<int64_t>(next, min_, max_));
    Paint();
  }
  caption_ = FillStatusText(sText, position_, max_);
  host_->PaintStatus(caption_);
  if (position_ % 100 == 0) host_->ProcessEvents();
  ThrowIfInterrupted();
}

void Progress::ShowText(std::string text) {
  caption_ = std::move(text);
  host_->PaintStatus(caption_);
}

}  // namespace razere
