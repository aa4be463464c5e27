#include "support/digest.h"

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
