// SHA-256 over data given in pieces, for fingerprints of large files that
// are read a part at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace razere {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, size_t size);
  void Update(std::string_view data) { Update(data.data(), data.size()); }
  // The digest of everything given so far; the object takes no more data.
  std::array<uint8_t, 32> Final();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Lower-case hexadecimal, two digits a byte.
std::string HexText(const uint8_t* bytes, size_t size);
template <size_t N>
std::string HexText(const std::array<uint8_t, N>& bytes) {
  return HexText(bytes.data(), N);
}

}  // namespace razere
