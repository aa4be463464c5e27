// Length-prefixed name fields (see name_field:: in db_format.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace razere {

// The text of the name field at p (31 readable bytes), as GBK bytes. A length
// byte above the capacity is read as the capacity, so a damaged field never
// reaches past its 31 bytes.
std::string ReadNameField(const uint8_t* p);

// True when the field's length byte is 0.
inline bool NameFieldEmpty(const uint8_t* p) { return p[0] == 0; }

// Writes the length byte and the text; the bytes after the text keep their
// old contents. Text longer than the capacity is cut to the capacity at a
// byte; callers that care about characters cut on a character boundary first.
void WriteNameField(uint8_t* p, std::string_view gbk);

}  // namespace razere
