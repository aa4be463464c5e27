// DES comes from libcrypto's DES_* block functions rather than an EVP cipher:
// OpenSSL 3 serves single DES through EVP only from the "legacy" provider,
// which is a separately installed module that must be found and loaded at run
// time and, once loaded into the default library context, changes what the
// whole process may fetch. The block functions are built into libcrypto
// itself, so they work wherever it links. They are marked deprecated, hence:
#define OPENSSL_SUPPRESS_DEPRECATED 1

#include "support/codecs.h"

#if defined(_WIN32)
#include <windows.h>
#include <bcrypt.h>
#include <gcrypt.h>
#else
#include <openssl/des.h>
#include <openssl/evp.h>
#endif

#include <cstring>
#include <random>
#include <stdexcept>

#include "support/ansi.h"
#include "support/digest.h"

namespace razere {

namespace {

constexpr int kSixBitFirst = 60;   // '<'
constexpr int kSixBitLast = 124;   // '|', the same value as '<'

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

#if defined(_WIN32)
// Digest of one of the system's algorithms (BCrypt); out holds its size.
using DigestKind = const wchar_t*;
const DigestKind kSha1 = BCRYPT_SHA1_ALGORITHM;
const DigestKind kMd5 = BCRYPT_MD5_ALGORITHM;

void Digest(DigestKind alg, std::string_view data, unsigned char* out) {
  BCRYPT_ALG_HANDLE h = nullptr;
  if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&h, alg, nullptr, 0))) throw std::runtime_error("BCrypt digest failed");
  DWORD size = 0;
  DWORD got = 0;
  BCRYPT_HASH_HANDLE hash = nullptr;
  NTSTATUS st = ::BCryptGetProperty(h, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&size), sizeof size, &got, 0);
  if (BCRYPT_SUCCESS(st)) st = ::BCryptCreateHash(h, &hash, nullptr, 0, nullptr, 0, 0);
  if (BCRYPT_SUCCESS(st)) {
    // The codecs digest short texts and keys: far below ULONG's limit.
    st = ::BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())), static_cast<ULONG>(data.size()), 0);
    if (BCRYPT_SUCCESS(st)) st = ::BCryptFinishHash(hash, out, size, 0);
    ::BCryptDestroyHash(hash);
  }
  ::BCryptCloseAlgorithmProvider(h, 0);
  if (!BCRYPT_SUCCESS(st)) throw std::runtime_error("BCrypt digest failed");
}

// DES from libgcrypt, linked in: Wine's BCrypt has no DES, and one
// implementation on every Windows is simpler to trust.
class DesKey {
 public:
  // First 8 bytes of SHA-1(k); DES ignores the parity bits.
  explicit DesKey(std::string_view k) {
    static const bool ready = [] {
      gcry_check_version(nullptr);
      gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
      return true;
    }();
    (void)ready;
    const std::array<uint8_t, 20> h = Sha1Digest(k);
    if (gcry_cipher_open(&handle_, GCRY_CIPHER_DES, GCRY_CIPHER_MODE_ECB, 0) != 0) {
      throw std::runtime_error("libgcrypt DES failed");
    }
    // A weak key is reported but set all the same; the key comes from the
    // file, so it is used as it is.
    const gcry_error_t err = gcry_cipher_setkey(handle_, h.data(), kDesBlockSize);
    if (err != 0 && gcry_err_code(err) != GPG_ERR_WEAK_KEY) {
      gcry_cipher_close(handle_);
      throw std::runtime_error("libgcrypt DES failed");
    }
  }
  ~DesKey() { gcry_cipher_close(handle_); }
  DesKey(const DesKey&) = delete;
  DesKey& operator=(const DesKey&) = delete;
  void Encrypt(uint8_t* block) const {
    if (gcry_cipher_encrypt(handle_, block, kDesBlockSize, nullptr, 0) != 0) throw std::runtime_error("libgcrypt DES failed");
  }
  void Decrypt(uint8_t* block) const {
    if (gcry_cipher_decrypt(handle_, block, kDesBlockSize, nullptr, 0) != 0) throw std::runtime_error("libgcrypt DES failed");
  }

 private:
  gcry_cipher_hd_t handle_ = nullptr;
};
#else
// Digest of one of libcrypto's built-in algorithms; out holds its size.
using DigestKind = const EVP_MD*;
const DigestKind kSha1 = EVP_sha1();
const DigestKind kMd5 = EVP_md5();

void Digest(DigestKind md, std::string_view data, unsigned char* out) {
  unsigned int len = 0;
  if (md == nullptr || EVP_Digest(data.data(), data.size(), out, &len, md, nullptr) != 1) {
    throw std::runtime_error("libcrypto digest failed");
  }
}

class DesKey {
 public:
  // First 8 bytes of SHA-1(k); DES ignores the parity bits.
  explicit DesKey(std::string_view k) {
    const std::array<uint8_t, 20> h = Sha1Digest(k);
    DES_cblock key;
    std::memcpy(key, h.data(), sizeof key);
    DES_set_key_unchecked(&key, &schedule_);
  }
  void Encrypt(uint8_t* block) const { Run(block, DES_ENCRYPT); }
  void Decrypt(uint8_t* block) const { Run(block, DES_DECRYPT); }

 private:
  void Run(uint8_t* block, int direction) const {
    DES_cblock in;
    DES_cblock out;
    std::memcpy(in, block, kDesBlockSize);
    DES_ecb_encrypt(&in, &out, const_cast<DES_key_schedule*>(&schedule_), direction);
    std::memcpy(block, out, kDesBlockSize);
  }
  DES_key_schedule schedule_;
};

#endif

using ChainValue = std::array<uint8_t, kDesChainUnit>;

// The initial chaining value: the fill byte throughout, its first block encrypted.
ChainValue InitialChain(const DesKey& key, uint8_t fillByte) {
  ChainValue v;
  v.fill(fillByte);
  key.Encrypt(v.data());
  return v;
}

}  // namespace

std::string DecodeSixBit(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 3 / 4);
  uint32_t bits = 0;
  int count = 0;  // bits held in `bits`, always < 8 between characters
  for (char ch : text) {
    const int c = static_cast<unsigned char>(ch);
    if (c < kSixBitFirst || c > kSixBitLast) return {};
    bits = (bits << 6) | static_cast<uint32_t>((c - kSixBitFirst) & 0x3F);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
      bits &= (1u << count) - 1;
    }
  }
  return out;
}

std::string EncodeSixBit(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() * 8 + 5) / 6);
  uint32_t bits = 0;
  int count = 0;
  for (char ch : bytes) {
    bits = (bits << 8) | static_cast<unsigned char>(ch);
    count += 8;
    while (count >= 6) {
      count -= 6;
      out.push_back(static_cast<char>(kSixBitFirst + ((bits >> count) & 0x3F)));
    }
    bits &= (1u << count) - 1;
  }
  // The last partial value is padded with zero bits, which the decoder drops.
  if (count > 0) out.push_back(static_cast<char>(kSixBitFirst + ((bits << (6 - count)) & 0x3F)));
  return out;
}

std::string DecodeBase64(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (size_t g = 0; g + 4 <= text.size(); g += 4) {
    int v[4];
    for (int i = 0; i < 4; ++i) v[i] = Base64Value(static_cast<unsigned char>(text[g + i]));
    const bool pad3 = text[g + 2] == '=';
    const bool pad4 = text[g + 3] == '=';
    if (v[0] < 0 || v[1] < 0 || (v[2] < 0 && !pad3) || (v[3] < 0 && !pad4 && !pad3)) return {};
    const uint32_t n = (static_cast<uint32_t>(v[0]) << 18) | (static_cast<uint32_t>(v[1]) << 12) |
                       (static_cast<uint32_t>(pad3 ? 0 : v[2]) << 6) |
                       static_cast<uint32_t>(pad3 || pad4 ? 0 : v[3]);
    out.push_back(static_cast<char>(n >> 16));
    if (pad3) continue;
    out.push_back(static_cast<char>((n >> 8) & 0xFF));
    if (pad4) continue;
    out.push_back(static_cast<char>(n & 0xFF));
  }
  return out;
}

std::string EncodeBase64(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t left = bytes.size() - i;
    uint32_t n = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (left > 1) n |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (left > 2) n |= static_cast<unsigned char>(bytes[i + 2]);
    out.push_back(kBase64Alphabet[(n >> 18) & 0x3F]);
    out.push_back(kBase64Alphabet[(n >> 12) & 0x3F]);
    out.push_back(left > 1 ? kBase64Alphabet[(n >> 6) & 0x3F] : '=');
    out.push_back(left > 2 ? kBase64Alphabet[n & 0x3F] : '=');
  }
  return out;
}

// Per 20-byte unit U: plain = (U with its first block DES-decrypted) XOR V,
// then V := U. A tail of r < 20 bytes is XORed with V[0..r) after V's first
// block was encrypted once more.
std::string DecryptDesChain(std::string_view c, std::string_view k, uint8_t fillByte) {
  const DesKey key(k);
  ChainValue v = InitialChain(key, fillByte);
  std::string out(c.size(), '\0');
  size_t pos = 0;
  for (; pos + kDesChainUnit <= c.size(); pos += kDesChainUnit) {
    ChainValue u;
    std::memcpy(u.data(), c.data() + pos, kDesChainUnit);
    ChainValue d = u;
    key.Decrypt(d.data());
    for (size_t i = 0; i < kDesChainUnit; ++i) out[pos + i] = static_cast<char>(d[i] ^ v[i]);
    v = u;
  }
  if (pos < c.size()) {
    key.Encrypt(v.data());
    for (size_t i = 0; pos + i < c.size(); ++i) {
      out[pos + i] = static_cast<char>(static_cast<uint8_t>(c[pos + i]) ^ v[i]);
    }
  }
  return out;
}

std::string EncryptDesChain(std::string_view p, std::string_view k, uint8_t fillByte) {
  const DesKey key(k);
  ChainValue v = InitialChain(key, fillByte);
  std::string out(p.size(), '\0');
  size_t pos = 0;
  for (; pos + kDesChainUnit <= p.size(); pos += kDesChainUnit) {
    ChainValue u;
    for (size_t i = 0; i < kDesChainUnit; ++i) u[i] = static_cast<uint8_t>(p[pos + i]) ^ v[i];
    key.Encrypt(u.data());
    std::memcpy(out.data() + pos, u.data(), kDesChainUnit);
    v = u;
  }
  if (pos < p.size()) {
    key.Encrypt(v.data());
    for (size_t i = 0; pos + i < p.size(); ++i) {
      out[pos + i] = static_cast<char>(static_cast<uint8_t>(p[pos + i]) ^ v[i]);
    }
  }
  return out;
}

std::array<uint8_t, 20> Sha1Digest(std::string_view data) {
  std::array<uint8_t, 20> out{};
  Digest(kSha1, data, out.data());
  return out;
}

std::string MD5Hex(std::string_view text) {
  const std::string bytes = Utf8ToGbk(text);
  unsigned char digest[16];
  Digest(kMd5, bytes, digest);
  return HexText(digest, sizeof digest);
}

std::string DecodeSetupValue(std::string_view value, uint8_t fillByte) {
  const std::string s = Utf8ToGbk(value);
  const size_t n = s.size();
  if (n < 5) return {};
  const std::string valueKey = s.substr(0, 2) + s.substr(n - 2, 2);
  const std::string text = DecodeSixBit(std::string_view(s).substr(2, n - 4));
  return GbkToUtf8(DecryptDesChain(DecodeBase64(text), valueKey, fillByte));
}

std::string EncodeSetupValue(std::string_view text, std::string_view valueKey, uint8_t fillByte) {
  if (valueKey.size() != 4) throw std::invalid_argument("a setting's value key has 4 bytes");
  const std::string payload = EncodeSixBit(EncodeBase64(EncryptDesChain(Utf8ToGbk(text), valueKey, fillByte)));
  std::string out;
  out.reserve(payload.size() + 4);
  out.append(valueKey.substr(0, 2)).append(payload).append(valueKey.substr(2, 2));
  return GbkToUtf8(out);
}

std::string RandomSetupValueKey() {
  std::random_device rd;
  std::uniform_int_distribution<int> dist(kSixBitFirst, kSixBitLast - 1);
  std::string key(4, '\0');
  for (char& c : key) c = static_cast<char>(dist(rd));
  return key;
}

}  // namespace razere
