// Length-prefixed name fields (see name_field:: in db_format.h).
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "dbfiles/db_format.h"

namespace razere {

// The text of the name field at p (31 readable bytes), as GBK bytes. A length
// byte above the capacity is read as the capacity, so a damaged field never
// reaches past its 31 bytes.
std::string ReadNameField(const uint8_t* p);

// The same text as a view into the field.
inline std::string_view NameFieldView(const uint8_t* p) {
  const size_t len = p[0] > name_field::kCapacity ? name_field::kCapacity : p[0];
  return {reinterpret_cast<const char*>(p + 1), len};
}

// True when the field's length byte is 0.
inline bool NameFieldEmpty(const uint8_t* p) { return p[0] == 0; }

// Writes the length byte and the text; the bytes after the text keep their
// old contents. Text longer than the capacity is cut to the capacity at a
// byte; callers that care about characters cut on a character boundary first.
void WriteNameField(uint8_t* p, std::string_view gbk);

// The text of a name field (at most name_field::kCapacity GBK bytes), held
// inline: an entry that keeps names costs no allocation for them.
class InlineName {
 public:
  InlineName() = default;
  // Text longer than a name field holds is cut to its capacity.
  explicit InlineName(std::string_view gbk) { Assign(gbk); }

  void Assign(std::string_view gbk) {
    len_ = static_cast<uint8_t>(gbk.size() < bytes_.size() ? gbk.size() : bytes_.size());
    if (len_ != 0) std::memcpy(bytes_.data(), gbk.data(), len_);
  }
  std::string_view View() const { return {bytes_.data(), len_}; }
  std::string Str() const { return std::string(View()); }
  bool Empty() const { return len_ == 0; }

 private:
  uint8_t len_ = 0;
  std::array<char, name_field::kCapacity> bytes_{};
};

}  // namespace razere
