// Codecs of the web-service values stored in a server's !Setup.txt, and the
// digests that sign the web request.
//
// An encoded setting value is text whose GBK bytes S (n >= 5) hold
//   S[0..2)     first half of the 4-byte value key
//   S[2..n-2)   payload: six-bit text (bytes 60..124) of a Base64 text of the
//               encrypted bytes C
//   S[n-2..n)   second half of the value key
// C decrypts (DecryptDesChain, keyed by the value key) to the GBK bytes of the
// value, |P| = |C|.
//
// MD5, SHA-1 and DES are libcrypto's. Every routine accepts any bytes;
// undecodable input gives an empty result, never an error.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace razere {

// Fill byte of the 20-byte initial chaining value of DecryptDesChain. It is a
// constant of the encoded format shared with the tools that write
// !Setup.txt; the merger's Config.ini may override it ([WebService]
// FillByte), and this is the value used when it does not.
inline constexpr uint8_t kDefaultSetupFillByte = 0x00;

// Size of the chaining unit; only its first kDesBlockSize bytes pass through DES.
inline constexpr size_t kDesChainUnit = 20;
inline constexpr size_t kDesBlockSize = 8;

// Six-bit text: a byte c in 60..124 stands for (c - 60) mod 64; the values are
// concatenated most significant bit first and cut into bytes, trailing bits
// that do not fill a byte dropped. Any byte outside 60..124 gives "".
std::string DecodeSixBit(std::string_view text);

// RFC 4648 Base64 in complete groups of four characters; characters after the
// last complete group are ignored. A group gives one byte when its third
// character is "=", two when its fourth is, else three. Any other character,
// or "=" in the first two places of a group, gives "".
std::string DecodeBase64(std::string_view text);

// Decrypts c with the value key k (any length): DES key = first 8 bytes of
// SHA-1(k), parity ignored. Output has exactly c.size() bytes.
std::string DecryptDesChain(std::string_view c, std::string_view k, uint8_t fillByte = kDefaultSetupFillByte);

// SHA-1 (FIPS 180-4).
std::array<uint8_t, 20> Sha1Digest(std::string_view data);

// MD5 (RFC 1321) of the GBK bytes of a UTF-8 text, as 32 lower-case hex digits.
std::string MD5Hex(std::string_view text);

// The value of an encoded setting (UTF-8 in and out); "" when it is shorter
// than 5 bytes or cannot be decoded.
std::string DecodeSetupValue(std::string_view value, uint8_t fillByte = kDefaultSetupFillByte);

// The inverses, for writing values (razere-cli encode-setup-value) and for
// tests. The merger itself never encodes.
std::string EncodeSixBit(std::string_view bytes);   // bytes 60..123
std::string EncodeBase64(std::string_view bytes);   // padded with "="
std::string EncryptDesChain(std::string_view p, std::string_view k, uint8_t fillByte = kDefaultSetupFillByte);
// valueKey: 4 bytes, best from the six-bit alphabet so the value stays plain
// ASCII. Throws std::invalid_argument when it is not 4 bytes long.
std::string EncodeSetupValue(std::string_view text, std::string_view valueKey,
                             uint8_t fillByte = kDefaultSetupFillByte);
// A value key of 4 random bytes of the six-bit alphabet.
std::string RandomSetupValueKey();

}  // namespace razere
