// The reference chain cipher below calls libcrypto's DES block functions
// directly, which OpenSSL 3 marks deprecated.
#define OPENSSL_SUPPRESS_DEPRECATED 1

#include "support/codecs.h"

#include "support/ansi.h"

#include <gtest/gtest.h>
#if defined(_WIN32)
#include <gcrypt.h>
#else
#include <openssl/des.h>
#endif

#include <cstring>
#include <random>
#include <string>

namespace razere {
namespace {

std::string Hex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (char c : bytes) {
    out.push_back(kHex[static_cast<unsigned char>(c) >> 4]);
    out.push_back(kHex[static_cast<unsigned char>(c) & 0x0F]);
  }
  return out;
}

std::string Unhex(std::string_view hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  return out;
}

// One DES block under an 8-byte key, straight from the library (libcrypto;
// libgcrypt on Windows, where no libcrypto is built).
std::string DesBlock(std::string_view key8, std::string_view block8, bool encrypt) {
#if defined(_WIN32)
  static const bool ready = [] {
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  (void)ready;
  gcry_cipher_hd_t h = nullptr;
  if (gcry_cipher_open(&h, GCRY_CIPHER_DES, GCRY_CIPHER_MODE_ECB, 0) != 0) return {};
  gcry_cipher_setkey(h, key8.data(), 8);  // a weak key is reported, and set all the same
  std::string out(8, '\0');
  const gcry_error_t err = encrypt ? gcry_cipher_encrypt(h, out.data(), 8, block8.data(), 8)
                                   : gcry_cipher_decrypt(h, out.data(), 8, block8.data(), 8);
  gcry_cipher_close(h);
  return err == 0 ? out : std::string();
#else
  DES_cblock key, in, out;
  std::memcpy(key, key8.data(), 8);
  std::memcpy(in, block8.data(), 8);
  DES_key_schedule ks;
  DES_set_key_unchecked(&key, &ks);
  DES_ecb_encrypt(&in, &out, &ks, encrypt ? DES_ENCRYPT : DES_DECRYPT);
  return std::string(reinterpret_cast<const char*>(out), 8);
#endif
}

std::string DesKeyOf(std::string_view valueKey) {
  auto h = Sha1Digest(valueKey);
  return std::string(reinterpret_cast<const char*>(h.data()), 8);
}

std::string Xor(std::string_view a, std::string_view b) {
  std::string out(a);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ b[i]);
  return out;
}

// The chain encryption written out from the format's description, block by
// block, independently of the library's inverse.
std::string ReferenceEncrypt(std::string_view p, std::string_view valueKey, uint8_t fill) {
  const std::string key = DesKeyOf(valueKey);
  std::string v(20, static_cast<char>(fill));
  v.replace(0, 8, DesBlock(key, v.substr(0, 8), true));
  std::string out;
  size_t pos = 0;
  for (; pos + 20 <= p.size(); pos += 20) {
    std::string x = Xor(p.substr(pos, 20), v);
    x.replace(0, 8, DesBlock(key, x.substr(0, 8), true));
    out += x;
    v = x;
  }
  if (pos < p.size()) {
    v.replace(0, 8, DesBlock(key, v.substr(0, 8), true));
    out += Xor(p.substr(pos), v);
  }
  return out;
}

std::string Bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

TEST(Digests, KnownAnswers) {
  auto sha = Sha1Digest("abc");
  EXPECT_EQ(Hex(std::string_view(reinterpret_cast<const char*>(sha.data()), sha.size())),
            "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(MD5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(MD5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  // Signed over the GBK bytes (D6 D0 CE C4), not the UTF-8 ones.
  EXPECT_EQ(MD5Hex("中文"), "bcce109775e8e1972e9f5fcda3e12895");
}

TEST(Digests, ReferenceDesIsTheStandardAlgorithm) {
  // The classic worked example of FIPS 46 DES.
  EXPECT_EQ(Hex(DesBlock(Unhex("133457799bbcdff1"), Unhex("0123456789abcdef"), true)), "85e813540f0ab405");
}

struct SixBitCase {
  std::string text;
  std::string bytes;
};

class SixBitTest : public ::testing::TestWithParam<SixBitCase> {};

TEST_P(SixBitTest, Decodes) { EXPECT_EQ(Hex(DecodeSixBit(GetParam().text)), Hex(GetParam().bytes)); }

INSTANTIATE_TEST_SUITE_P(
    Cases, SixBitTest,
    ::testing::Values(SixBitCase{"", ""},
                      SixBitCase{"@_MR", "\x12\x34\x56"},                 // 4, 35, 17, 22
                      SixBitCase{"@_M", "\x12\x34"},                      // trailing group of three
                      SixBitCase{"@_", "\x12"},                           // of two
                      SixBitCase{"@", ""},                                // a single one gives nothing
                      SixBitCase{"@_MR@_", "\x12\x34\x56\x12"},
                      SixBitCase{"{{{{", "\xFF\xFF\xFF"},                 // 123 is 63
                      SixBitCase{"||||", std::string(3, '\0')},           // 124 counts as 0
                      SixBitCase{"<<<<", std::string(3, '\0')},
                      SixBitCase{"@_;R", ""},                             // 59 is outside
                      SixBitCase{"@_}R", ""},                             // 125 is outside
                      SixBitCase{std::string("@_\xC0R"), ""}));

TEST(SixBit, EncodeIsTheInverseForEveryLength) {
  for (size_t n = 0; n < 10; ++n) {
    std::string b = Bytes(n, static_cast<uint32_t>(n));
    std::string t = EncodeSixBit(b);
    EXPECT_EQ(t.size(), (n * 8 + 5) / 6);
    for (char c : t) EXPECT_TRUE(c >= 60 && c <= 123) << static_cast<int>(c);
    EXPECT_EQ(DecodeSixBit(t), b) << n;
  }
}

struct Base64Case {
  std::string text;
  std::string bytes;
};

class Base64Test : public ::testing::TestWithParam<Base64Case> {};

TEST_P(Base64Test, Decodes) { EXPECT_EQ(DecodeBase64(GetParam().text), GetParam().bytes); }

INSTANTIATE_TEST_SUITE_P(Cases, Base64Test,
                         ::testing::Values(Base64Case{"", ""}, Base64Case{"TWFu", "Man"}, Base64Case{"TWE=", "Ma"},
                                           Base64Case{"TQ==", "M"}, Base64Case{"TQ=x", "M"},
                                           Base64Case{"TWFuTQ", "Man"},  // partial last group is lost
                                           Base64Case{"TWFuTWE", "Man"}, Base64Case{"TW", ""},
                                           Base64Case{"TQ==TWFu", "MMan"},
                                           Base64Case{"+/+/", "\xFB\xFF\xBF"},
                                           Base64Case{"TW*u", ""},   // outside the alphabet
                                           Base64Case{"=WFu", ""}, Base64Case{"TWFuT=Fu", ""},
                                           Base64Case{"TWFu\xC0\xC0\xC0\xC0", ""}));

TEST(Base64, EncodeIsTheInverse) {
  EXPECT_EQ(EncodeBase64("M"), "TQ==");
  EXPECT_EQ(EncodeBase64("Ma"), "TWE=");
  EXPECT_EQ(EncodeBase64("Man"), "TWFu");
  for (size_t n = 0; n < 8; ++n) {
    std::string b = Bytes(n, 100 + static_cast<uint32_t>(n));
    EXPECT_EQ(DecodeBase64(EncodeBase64(b)), b);
  }
}

class DesChainTest : public ::testing::TestWithParam<size_t> {};

TEST_P(DesChainTest, DecryptsTheReferenceEncryption) {
  const size_t n = GetParam();
  const std::string plain = Bytes(n, static_cast<uint32_t>(n) + 7);
  for (uint8_t fill : {kDefaultSetupFillByte, uint8_t{0x5A}}) {
    const std::string cipher = ReferenceEncrypt(plain, "<@ab", fill);
    ASSERT_EQ(cipher.size(), n);
    EXPECT_EQ(Hex(DecryptDesChain(cipher, "<@ab", fill)), Hex(plain)) << n << " fill " << int{fill};
    EXPECT_EQ(Hex(EncryptDesChain(plain, "<@ab", fill)), Hex(cipher));
  }
}

// 20: one unit, no tail; 27: one unit and a 7-byte tail; 5: only a tail.
INSTANTIATE_TEST_SUITE_P(Lengths, DesChainTest, ::testing::Values(0u, 1u, 5u, 8u, 19u, 20u, 27u, 40u, 45u));

TEST(DesChain, OnlyTheFirstEightBytesOfAUnitPassThroughDes) {
  const std::string c = Bytes(27, 3);
  const std::string p = DecryptDesChain(c, "KEY!", 0x5A);
  ASSERT_EQ(p.size(), 27u);
  const std::string key = DesKeyOf("KEY!");
  // Bytes 8..19 of the first unit are XORed with the fill byte only.
  for (size_t i = 8; i < 20; ++i) EXPECT_EQ(static_cast<uint8_t>(p[i]), static_cast<uint8_t>(c[i]) ^ 0x5A) << i;
  // First block: DES-decrypted, then XORed with the encrypted fill block.
  const std::string v0 = DesBlock(key, std::string(8, '\x5A'), true);
  EXPECT_EQ(Hex(p.substr(0, 8)), Hex(Xor(DesBlock(key, c.substr(0, 8), false), v0)));
  // The tail: XOR with the encryption of the first encrypted unit's first block.
  EXPECT_EQ(Hex(p.substr(20)), Hex(Xor(c.substr(20), DesBlock(key, c.substr(0, 8), true))));
}

TEST(DesChain, AShortInputIsATailUnderTheTwiceEncryptedFill) {
  const std::string c = "\x01\x02\x03\x04\x05";
  const std::string key = DesKeyOf("abcd");
  const std::string v = DesBlock(key, DesBlock(key, std::string(8, '\0'), true), true);
  EXPECT_EQ(Hex(DecryptDesChain(c, "abcd")), Hex(Xor(c, v)));
}

TEST(DesChain, FillByteAndKeyMatter) {
  const std::string c = Bytes(27, 9);
  EXPECT_NE(DecryptDesChain(c, "abcd", 0), DecryptDesChain(c, "abcd", 1));
  EXPECT_NE(DecryptDesChain(c, "abcd"), DecryptDesChain(c, "abce"));
}

// A value as the tools that write !Setup.txt lay it out.
std::string MakeValue(std::string_view gbkPlain, std::string_view valueKey, uint8_t fill) {
  return std::string(valueKey.substr(0, 2)) + EncodeSixBit(EncodeBase64(ReferenceEncrypt(gbkPlain, valueKey, fill))) +
         std::string(valueKey.substr(2, 2));
}

TEST(SetupValue, DecodesValuesOfEveryLength) {
  for (size_t n : {1u, 7u, 19u, 20u, 21u, 27u, 40u, 63u}) {
    std::string plain;
    for (size_t i = 0; i < n; ++i) plain.push_back(static_cast<char>('a' + i % 26));
    EXPECT_EQ(DecodeSetupValue(MakeValue(plain, "AZ<{", kDefaultSetupFillByte)), plain) << n;
    EXPECT_EQ(DecodeSetupValue(MakeValue(plain, "AZ<{", 0x33), 0x33), plain) << n;
  }
}

TEST(SetupValue, ValueIsReadInTheAnsiCodePage) {
  // "区/键" in GBK.
  const std::string gbk = "\xC7\xF8/\xBC\xFC";
  EXPECT_EQ(DecodeSetupValue(MakeValue(gbk, "MNOP", 0)), "区/键");
}

TEST(SetupValue, ShortOrUndecodableValuesAreEmpty) {
  EXPECT_EQ(DecodeSetupValue(""), "");
  EXPECT_EQ(DecodeSetupValue("abcd"), "");   // 4 bytes
  EXPECT_EQ(DecodeSetupValue("ab@cd"), "");  // 5 bytes: a 1-byte payload decodes to nothing
  std::string v = MakeValue("secret", "<<<<", 0);
  v[4] = ';';  // a payload byte outside 60..124
  EXPECT_EQ(DecodeSetupValue(v), "");
}

TEST(SetupValue, EncodeSetupValueRoundTrips) {
  for (const char* text : {"x", "area-key-001", "中文的分区Key/\\\"", "12345678901234567890"}) {
    const std::string key = RandomSetupValueKey();
    ASSERT_EQ(key.size(), 4u);
    for (char c : key) EXPECT_TRUE(c >= 60 && c <= 123);
    const std::string value = EncodeSetupValue(text, key, 0x7F);
    EXPECT_EQ(DecodeSetupValue(value, 0x7F), text);
    EXPECT_NE(DecodeSetupValue(value, 0x7E), text);
    // The encoder agrees with the layout built from the reference cipher.
    EXPECT_EQ(value, MakeValue(Utf8ToGbk(text), key, 0x7F));
  }
  EXPECT_THROW(EncodeSetupValue("x", "abc"), std::invalid_argument);
}

TEST(SetupValue, AnyBytesDecodeWithoutHarm) {
  std::mt19937 rng(42);
  for (int i = 0; i < 2000; ++i) {
    std::string s(rng() % 40, '\0');
    for (char& c : s) c = static_cast<char>(rng() % 2 ? 60 + rng() % 65 : rng() & 0xFF);
    (void)DecodeSetupValue(s);
    (void)DecodeBase64(s);
    (void)DecodeSixBit(s);
  }
}

}  // namespace
}  // namespace razere
