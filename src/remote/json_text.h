// The compact JSON text the consignment-sale service signs and receives.
//
// No whitespace anywhere; members in the order the object holds them (an
// ordered_json keeps insertion order, and a parsed answer the order of its
// text); integers in plain decimal. In strings and member names: backspace,
// tab, line feed, form feed and carriage return as \b \t \n \f \r; the
// quotation mark, backslash and slash behind a backslash; every other UTF-16
// code unit below 32 or above 127 as \u and four lower-case hex digits. The
// text is therefore pure ASCII, so its UTF-8 and GBK forms are the same bytes
// and a signature over one covers the other.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace razere {

// Appends the quoted, escaped form of a UTF-8 text. Surrogate code points in
// their 3-byte form (surrogate escapes of undecodable bytes) are written as
// the code unit they are; a byte that starts no well-formed sequence is
// written as its surrogate escape U+DC00+byte, so any bytes give ASCII text.
void AppendJsonString(std::string& out, std::string_view utf8);

// The compact text of a value. Nesting of any depth is written without
// recursion.
std::string WriteJsonText(const nlohmann::ordered_json& value);

}  // namespace razere
