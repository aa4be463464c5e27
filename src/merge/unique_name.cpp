#include "merge/unique_name.h"

#include <stdexcept>

#include "support/ansi.h"

namespace razere {

std::string TruncateAnsiName(std::string_view Source, int32_t MaxBytes) {
  if (MaxBytes <= 0) return {};
  const size_t max = static_cast<size_t>(MaxBytes);
  if (Source.size() < max) return std::string(Source);

  // Walk characters from the start up to the byte at index max - 1: either a
  // character starts there, or it is the trail byte of the character before.
  const size_t at = max - 1;
  size_t i = 0;
  while (i < at) i += IsLeadByte(static_cast<unsigned char>(Source[i])) ? 2 : 1;
  const bool startsDoubleByte = i == at && IsLeadByte(static_cast<unsigned char>(Source[at]));
  return std::string(Source.substr(0, startsDoubleByte ? at : max));
}

bool MakeUniqueName(std::string_view Source, int32_t L0, const NameTakenFn& inSetA, const NameTakenFn& inSetB,
                    std::string& NewName, NameKeyFn keyOf) {
  NewName.assign(Source);
  // The suffix letters are lower-case ASCII, which both keys leave alone, and
  // a key never looks ahead past a character it has classified, so the key of
  // prefix + suffix is the key of the prefix followed by the suffix: one key
  // buffer per pass, no allocation per candidate.
  std::string prefix;
  std::string key;
  for (int32_t k = 1; k <= 4; ++k) {
    prefix = TruncateAnsiName(Source, L0 - (k - 1));
    key = keyOf(prefix);
    const size_t keyLen = key.size();
    key.append(static_cast<size_t>(k), 'a');
    char* suffix = key.data() + keyLen;
    for (;;) {
      if (!inSetA(key) && !inSetB(key)) {
        NewName = prefix;
        NewName.append(suffix, static_cast<size_t>(k));
        return true;
      }
      // Next suffix in dictionary order: the last letter changes fastest.
      int32_t pos = k - 1;
      while (pos >= 0 && suffix[pos] == 'z') suffix[pos--] = 'a';
      if (pos < 0) break;
      ++suffix[pos];
    }
  }
  NewName = prefix + "zzzz";
  return false;
}

void ThrowNoFreeName(NameInstance instance, std::string_view gbkName) {
  const char* kind = "名称";
  switch (instance) {
    case NameInstance::Account: kind = "帐号"; break;
    case NameInstance::Character: kind = "人物"; break;
    case NameInstance::Hero: kind = "英雄"; break;
    case NameInstance::Guild: kind = "行会"; break;
    case NameInstance::Shop: kind = "摊位"; break;
  }
  throw std::runtime_error(std::string("无法为") + kind + "“" + GbkToUtf8(gbkName) + "”生成新名称：" +
                           std::to_string(kUniqueNameCandidates) + " 个候选名称均已被占用。");
}

std::string MakeUniqueNameOrThrow(NameInstance instance, std::string_view Source, int32_t L0,
                                  const NameTakenFn& inSetA, const NameTakenFn& inSetB, NameKeyFn keyOf) {
  std::string newName;
  if (!MakeUniqueName(Source, L0, inSetA, inSetB, newName, keyOf)) ThrowNoFreeName(instance, Source);
  return newName;
}

}  // namespace razere
