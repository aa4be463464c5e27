#include "support/digest.h"

#include <algorithm>

#if defined(_WIN32)
#include <windows.h>
#include <bcrypt.h>

#include <stdexcept>

namespace razere {

struct Sha256::State {
  BCRYPT_ALG_HANDLE alg = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool done = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&state_->alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    throw std::runtime_error("BCrypt SHA-256 failed");
  }
  if (!BCRYPT_SUCCESS(::BCryptCreateHash(state_->alg, &state_->hash, nullptr, 0, nullptr, 0, 0))) {
    ::BCryptCloseAlgorithmProvider(state_->alg, 0);
    throw std::runtime_error("BCrypt SHA-256 failed");
  }
}

Sha256::~Sha256() {
  ::BCryptDestroyHash(state_->hash);
  ::BCryptCloseAlgorithmProvider(state_->alg, 0);
}

void Sha256::Update(const void* data, size_t size) {
  if (state_->done) throw std::logic_error("SHA-256 given data after its digest was taken");
  auto* p = static_cast<PUCHAR>(const_cast<void*>(data));
  while (size > 0) {  // ULONG lengths: 4 GiB at most a call
    const ULONG n = static_cast<ULONG>(std::min<size_t>(size, ULONG{1} << 30));
    if (!BCRYPT_SUCCESS(::BCryptHashData(state_->hash, p, n, 0))) throw std::runtime_error("BCrypt SHA-256 failed");
    p += n;
    size -= n;
  }
}

std::array<uint8_t, 32> Sha256::Final() {
  if (state_->done) throw std::logic_error("SHA-256 digest taken twice");
  std::array<uint8_t, 32> out{};
  if (!BCRYPT_SUCCESS(::BCryptFinishHash(state_->hash, out.data(), static_cast<ULONG>(out.size()), 0))) {
    throw std::runtime_error("BCrypt SHA-256 failed");
  }
  state_->done = true;
  return out;
}

#else
#include <openssl/evp.h>

#include <stdexcept>

namespace razere {

struct Sha256::State {
  EVP_MD_CTX* ctx = nullptr;
  bool done = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->ctx = EVP_MD_CTX_new();
  if (state_->ctx == nullptr || EVP_DigestInit_ex(state_->ctx, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(state_->ctx);
    throw std::runtime_error("libcrypto SHA-256 failed");
  }
}

Sha256::~Sha256() { EVP_MD_CTX_free(state_->ctx); }

void Sha256::Update(const void* data, size_t size) {
  if (state_->done) throw std::logic_error("SHA-256 given data after its digest was taken");
  if (size != 0 && EVP_DigestUpdate(state_->ctx, data, size) != 1) throw std::runtime_error("libcrypto SHA-256 failed");
}

std::array<uint8_t, 32> Sha256::Final() {
  if (state_->done) throw std::logic_error("SHA-256 digest taken twice");
  std::array<uint8_t, 32> out{};
  unsigned int len = 0;
  if (EVP_DigestFinal_ex(state_->ctx, out.data(), &len) != 1 || len != out.size()) {
    throw std::runtime_error("libcrypto SHA-256 failed");
  }
  state_->done = true;
  return out;
}

#endif

std::string HexText(const uint8_t* bytes, size_t size) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out.push_back(kHex[bytes[i] >> 4]);
    out.push_back(kHex[bytes[i] & 0x0F]);
  }
  return out;
}

}  // namespace razere
