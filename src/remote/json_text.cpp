#include "remote/json_text.h"

#include <cstdint>
#include <vector>

#include "support/utf8.h"

namespace razere {

namespace {

using Json = nlohmann::ordered_json;

void AppendUnitEscape(std::string& out, uint32_t unit) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(unit >> shift) & 0xF]);
}

void AppendCodePoint(std::string& out, char32_t cp) {
  switch (cp) {
    case '\b': out += "\\b"; return;
    case '\t': out += "\\t"; return;
    case '\n': out += "\\n"; return;
    case '\f': out += "\\f"; return;
    case '\r': out += "\\r"; return;
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    case '/': out += "\\/"; return;
    default: break;
  }
  if (cp >= 32 && cp <= 127) {
    out.push_back(static_cast<char>(cp));
  } else if (cp > 0xFFFF) {
    const uint32_t v = static_cast<uint32_t>(cp) - 0x10000;
    AppendUnitEscape(out, 0xD800 + (v >> 10));
    AppendUnitEscape(out, 0xDC00 + (v & 0x3FF));
  } else {
    AppendUnitEscape(out, static_cast<uint32_t>(cp));
  }
}

void AppendScalar(std::string& out, const Json& v) {
  switch (v.type()) {
    case Json::value_t::string: AppendJsonString(out, v.get_ref<const std::string&>()); return;
    case Json::value_t::number_integer: out += std::to_string(v.get<int64_t>()); return;
    case Json::value_t::number_unsigned: out += std::to_string(v.get<uint64_t>()); return;
    case Json::value_t::boolean: out += v.get<bool>() ? "true" : "false"; return;
    case Json::value_t::null: out += "null"; return;
    default: out += v.dump(); return;  // numbers with a fraction or exponent: the library's shortest form
  }
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view utf8) {
  out.push_back('"');
  for (size_t pos = 0; pos < utf8.size();) {
    char32_t cp = 0;
    size_t len = DecodeUtf8At(utf8, pos, cp, /*allowSurrogates=*/true);
    if (len == 0) {  // only ever a byte >= 0x80
      cp = 0xDC00 + static_cast<unsigned char>(utf8[pos]);
      len = 1;
    }
    AppendCodePoint(out, cp);
    pos += len;
  }
  out.push_back('"');
}

std::string WriteJsonText(const Json& value) {
  struct Frame {
    const Json* node;
    Json::const_iterator next;
  };
  std::string out;
  std::vector<Frame> stack;
  auto open = [&](const Json& v) {
    if (v.is_object() || v.is_array()) {
      out.push_back(v.is_object() ? '{' : '[');
      stack.push_back(Frame{&v, v.cbegin()});
    } else {
      AppendScalar(out, v);
    }
  };
  open(value);
  while (!stack.empty()) {
    Frame& f = stack.back();
    const Json& node = *f.node;
    if (f.next == node.cend()) {
      out.push_back(node.is_object() ? '}' : ']');
      stack.pop_back();
      continue;
    }
    if (f.next != node.cbegin()) out.push_back(',');
    const Json::const_iterator it = f.next;
    ++f.next;  // before open(), which may reallocate the stack
    if (node.is_object()) {
      AppendJsonString(out, it.key());
      out.push_back(':');
    }
    open(*it);
  }
  return out;
}

}  // namespace razere
