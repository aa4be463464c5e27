#include "support/sort_string_list.h"

#include "support/text_util.h"
#include "support/utf8.h"

namespace razere {

namespace {

// Hands out the UTF-16 units of a UTF-8 text one at a time. A byte that does
// not start a well-formed sequence is the unit 0xDC00 + byte, the same value
// its surrogate escape carries.
class UnitCursor {
 public:
  explicit UnitCursor(std::string_view s) : s_(s) {}
  bool Next(unsigned& u) {
    if (pending_ < count_) {
      u = buf_[pending_++];
      return true;
    }
    if (pos_ >= s_.size()) return false;
    char32_t cp = 0;
    const size_t len = DecodeUtf8At(s_, pos_, cp, true);
    if (len == 0) {
      cp = 0xDC00 + static_cast<unsigned char>(s_[pos_]);
      pos_ += 1;
    } else {
      pos_ += len;
    }
    if (cp > 0xFFFF) {
      buf_[0] = static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10));
      buf_[1] = static_cast<uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      count_ = 2;
    } else {
      buf_[0] = static_cast<uint16_t>(cp);
      count_ = 1;
    }
    pending_ = 1;
    u = buf_[0];
    return true;
  }

 private:
  std::string_view s_;
  size_t pos_ = 0;
  uint16_t buf_[2] = {0, 0};
  int count_ = 0;
  int pending_ = 0;
};

}  // namespace

int CompareText(std::string_view a, std::string_view b) {
  // ASCII prefix: one byte is one unit.
  size_t k = 0;
  const size_t common = a.size() < b.size() ? a.size() : b.size();
  while (k < common) {
    const auto ca = static_cast<unsigned char>(a[k]);
    const auto cb = static_cast<unsigned char>(b[k]);
    if (ca >= 0x80 || cb >= 0x80) break;
    if (ca != cb) {
      const int d = static_cast<int>(AsciiUpper(ca)) - static_cast<int>(AsciiUpper(cb));
      if (d != 0) return d;
    }
    ++k;
  }
  UnitCursor x(a.substr(k));
  UnitCursor y(b.substr(k));
  for (;;) {
    unsigned ua = 0;
    unsigned ub = 0;
    const bool ha = x.Next(ua);
    const bool hb = y.Next(ub);
    if (!ha || !hb) return ha ? 1 : (hb ? -1 : 0);
    const int d = static_cast<int>(AsciiUpper(ua)) - static_cast<int>(AsciiUpper(ub));
    if (d != 0) return d;
  }
}

}  // namespace razere
