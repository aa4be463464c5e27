#include "gen/names.h"

#include <stdexcept>
#include <vector>

#include "support/ansi.h"

namespace razere::gen {

namespace {

// Characters as UTF-8, converted to GBK once. Every one is a two-byte GBK
// character; Table() checks that.
constexpr std::string_view kSurnames =
    "王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹彭曾肖田董袁潘于蒋蔡余杜叶程苏魏吕丁"
    "任沈姚卢姜崔钟谭陆汪范金石廖贾夏韦付方白邹孟熊秦邱江尹薛闫段雷侯龙史陶黎贺顾毛郝龚邵万钱严覃武"
    "戴莫孔向汤";
constexpr std::string_view kCompoundSurnames = "欧阳司马上官诸葛东方独孤慕容令狐公孙轩辕";  // pairs
constexpr std::string_view kGiven =
    "伟芳娜敏静丽强磊军洋勇艳杰娟涛明超兰霞平刚桂华飞鹏宇浩然天龙虎剑刀魔神战风云雷电火冰血影狼鹰星月"
    "夜霸傲笑逍遥无敌寒雪梦幻灵仙尘心若紫轩凌晨曦子墨羽枫叶青蓝红黑白金银玉少帅哥妹儿小大老狂冷酷帝皇"
    "尊圣佛道义侠客刃锋杀破军";
constexpr std::string_view kDecorations = "丶灬★☆の乄〆ゞ丨";
constexpr std::string_view kGamePrefixes = "小老无狂冷独霸战神魔";

struct Tables {
  std::vector<std::string> surnames, compound, given, decorations, prefixes;
};

// Splits UTF-8 text into characters (or pairs of characters) and converts
// each to GBK.
std::vector<std::string> ToGbkChars(std::string_view utf8, size_t charsPerEntry) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < utf8.size()) {
    size_t start = i;
    for (size_t c = 0; c < charsPerEntry && i < utf8.size(); ++c) {
      ++i;
      while (i < utf8.size() && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) ++i;
    }
    bool lossy = false;
    std::string gbk = Utf8ToGbk(utf8.substr(start, i - start), &lossy);
    if (lossy || gbk.size() != 2 * charsPerEntry) {
      throw std::logic_error("name table entry is not GBK: " + std::string(utf8.substr(start, i - start)));
    }
    out.push_back(std::move(gbk));
  }
  return out;
}

const Tables& Table() {
  static const Tables t = [] {
    Tables x;
    x.surnames = ToGbkChars(kSurnames, 1);
    x.compound = ToGbkChars(kCompoundSurnames, 2);
    x.given = ToGbkChars(kGiven, 1);
    x.decorations = ToGbkChars(kDecorations, 1);
    x.prefixes = ToGbkChars(kGamePrefixes, 1);
    return x;
  }();
  return t;
}

constexpr std::string_view kLower = "abcdefghijklmnopqrstuvwxyz";
constexpr std::string_view kDigits = "0123456789";

bool IsAsciiLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Byte positions of single-byte ASCII letters, skipping double-byte characters.
std::vector<size_t> LetterPositions(std::string_view gbk) {
  std::vector<size_t> pos;
  for (size_t i = 0; i < gbk.size(); ++i) {
    auto b = static_cast<unsigned char>(gbk[i]);
    if (IsLeadByte(b) && i + 1 < gbk.size()) {
      ++i;
      continue;
    }
    if (IsAsciiLetter(b)) pos.push_back(i);
  }
  return pos;
}

}  // namespace

std::string NameMaker::Chinese(int minChars, int maxChars) {
  const Tables& t = Table();
  std::string s;
  int n = static_cast<int>(rng_.Range(minChars, maxChars));
  for (int i = 0; i < n; ++i) s += rng_.Pick(t.given);
  return s;
}

std::string NameMaker::Ascii(int minLen, int maxLen, bool mixedCase) {
  std::string s;
  int n = static_cast<int>(rng_.Range(minLen, maxLen));
  for (int i = 0; i < n; ++i) {
    // Letters first, digits mostly towards the end, as players type them.
    bool digit = i > 0 && rng_.Chance(i * 2 >= n ? 0.45 : 0.1);
    char c = digit ? kDigits[rng_.Below(10)] : kLower[rng_.Below(26)];
    if (!digit && mixedCase && rng_.Chance(0.35)) c = static_cast<char>(c - 'a' + 'A');
    s += c;
  }
  return s;
}

// A GBK-extension character (lead 0x81..0xA0, all trail bytes assigned),
// half the time with a trail byte that is an ASCII letter.
std::string NameMaker::ExtensionChar() {
  std::string c(2, '\0');
  c[0] = static_cast<char>(rng_.Range(0x81, 0xA0));
  uint8_t trail;
  if (rng_.Chance(0.5)) {
    trail = static_cast<uint8_t>(rng_.Chance(0.5) ? rng_.Range('A', 'Z') : rng_.Range('a', 'z'));
  } else {
    do trail = static_cast<uint8_t>(rng_.Range(0x40, 0xFE));
    while (trail == 0x7F);
  }
  c[1] = static_cast<char>(trail);
  return c;
}

std::string NameMaker::Account() {
  const Tables& t = Table();
  double r = rng_.Unit();
  if (r < 0.70) return Ascii(4, 10, false);
  if (r < 0.82) return Ascii(4, 10, true);
  if (r < 0.92) return Chinese(2, 5);
  if (r < 0.97) {
    std::string s = Ascii(1, 4, rng_.Chance(0.3)) + rng_.Pick(t.given);
    if (s.size() + 2 <= kMaxAccountBytes && rng_.Chance(0.5)) s += rng_.Pick(t.given);
    return s;
  }
  // Exactly 10 bytes with a double-byte character across byte 9: cutting
  // the name to 9 bytes must not split it.
  return rng_.Chance(0.5) ? Chinese(5, 5) : Ascii(2, 2, false) + Chinese(4, 4);
}

std::string NameMaker::Character() {
  const Tables& t = Table();
  double r = rng_.Unit();
  if (r < 0.40) {
    std::string s = rng_.Chance(0.1) ? rng_.Pick(t.compound) : rng_.Pick(t.surnames);
    return s + Chinese(1, 2);
  }
  if (r < 0.55) {
    std::string s;
    if (rng_.Chance(0.5)) s += rng_.Pick(t.prefixes);
    if (rng_.Chance(0.5)) s += rng_.Pick(t.decorations);
    s += Chinese(1, 3);
    if (rng_.Chance(0.6)) s += rng_.Pick(t.decorations);
    return s;
  }
  if (r < 0.75) return Ascii(3, 12, true);
  if (r < 0.85) {
    return rng_.Chance(0.5) ? Chinese(1, 3) + Ascii(1, 4, rng_.Chance(0.5))
                            : Ascii(1, 4, true) + rng_.Pick(t.decorations) + Chinese(1, 2);
  }
  if (r < 0.95) {
    std::string s = rng_.Pick(t.surnames) + ExtensionChar();
    if (rng_.Chance(0.5)) s += rng_.Chance(0.5) ? ExtensionChar() : rng_.Pick(t.given);
    if (rng_.Chance(0.3)) s = Ascii(1, 3, true) + s;
    return s;
  }
  if (r < 0.98) return Long();
  return Ascii(26, 28, true);
}

// Names that fill the field: a cut to 29 bytes meets a double-byte character
// across byte 28 in two of the four forms.
std::string NameMaker::Long() {
  switch (rng_.Below(4)) {
    case 0: return Chinese(15, 15);                        // 30 bytes
    case 1: return Ascii(2, 2, true) + Chinese(14, 14);    // 30 bytes
    case 2: return Ascii(1, 1, false) + Chinese(14, 14);   // 29 bytes
    default: return Ascii(29, 30, true);
  }
}

std::string NameMaker::WithLetterTrail() {
  std::string c(2, '\0');
  c[0] = static_cast<char>(rng_.Range(0x81, 0xA0));
  c[1] = static_cast<char>(rng_.Chance(0.5) ? rng_.Range('A', 'Z') : rng_.Range('a', 'z'));
  return rng_.Pick(Table().surnames) + c;
}

bool HasAsciiLetter(std::string_view gbk) { return !LetterPositions(gbk).empty(); }

std::string CaseVariant(std::string_view gbk, GenRandom& rng) {
  std::vector<size_t> pos = LetterPositions(gbk);
  if (pos.empty()) return {};
  std::string s(gbk);
  size_t must = pos[rng.Below(pos.size())];
  for (size_t p : pos) {
    if (p == must || rng.Chance(0.5)) s[p] = static_cast<char>(s[p] ^ 0x20);
  }
  return s;
}

std::string TrailCaseTwin(std::string_view gbk) {
  for (size_t i = 0; i + 1 < gbk.size(); ++i) {
    auto b = static_cast<unsigned char>(gbk[i]);
    if (!IsLeadByte(b)) continue;
    auto trail = static_cast<unsigned char>(gbk[i + 1]);
    if (b <= 0xA0 && IsAsciiLetter(trail)) {
      std::string s(gbk);
      s[i + 1] = static_cast<char>(trail ^ 0x20);
      return s;
    }
    ++i;
  }
  return {};
}

}  // namespace razere::gen
