#include "dbfiles/name_field.h"

#include <algorithm>
#include <cstring>

namespace razere {

std::string ReadNameField(const uint8_t* p) { return std::string(NameFieldView(p)); }

void WriteNameField(uint8_t* p, std::string_view gbk) {
  size_t len = std::min(gbk.size(), name_field::kCapacity);
  p[0] = static_cast<uint8_t>(len);
  if (len > 0) std::memcpy(p + 1, gbk.data(), len);
}

}  // namespace razere
