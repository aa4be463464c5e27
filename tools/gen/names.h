// Names as the servers hold them: GBK byte strings. Chinese names, ASCII
// names in mixed case, mixtures of both, names with characters of the GBK
// extension whose trail byte is an ASCII letter (a name key must not fold
// it), and names that fill the whole 30-byte field.
#pragma once

#include <string>
#include <string_view>

#include "gen/random.h"

namespace razere::gen {

// Longest account name the game takes at registration, in bytes.
inline constexpr size_t kMaxAccountBytes = 10;

class NameMaker {
 public:
  explicit NameMaker(GenRandom& rng) : rng_(rng) {}

  // 1 to kMaxAccountBytes bytes: mostly lower-case letters and digits, some
  // in mixed case, some Chinese, some exactly 10 bytes with a double-byte
  // character across byte 9.
  std::string Account();

  // 2 to 30 bytes: Chinese, game-style with decorations, ASCII, mixed,
  // GBK-extension characters, and a few names of 26 to 30 bytes.
  std::string Character();

  // A character name of 29 or 30 bytes.
  std::string Long();
  // A Chinese name with a GBK-extension character whose trail byte is an
  // ASCII letter.
  std::string WithLetterTrail();

 private:
  std::string Chinese(int minChars, int maxChars);
  std::string Ascii(int minLen, int maxLen, bool mixedCase);
  std::string ExtensionChar();

  GenRandom& rng_;
};

// True when the name has a single-byte ASCII letter (the bytes of a
// double-byte character do not count).
bool HasAsciiLetter(std::string_view gbk);

// The name with the case of some of its single-byte ASCII letters changed (at
// least one): a different spelling of the same name key. Empty when the name
// has no such letter.
std::string CaseVariant(std::string_view gbk, GenRandom& rng);

// The name with the trail byte of its first GBK-extension character whose
// trail byte is an ASCII letter changed in case: a different character, so a
// different name and name key, whose bytes a careless case fold would mix up
// with the original. Empty when the name has no such character.
std::string TrailCaseTwin(std::string_view gbk);

}  // namespace razere::gen
