// Little-endian loads and stores on unaligned byte pointers. memcpy keeps
// them free of alignment and aliasing faults; compilers turn each into one
// move on little-endian hosts.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace razere {

static_assert(std::endian::native == std::endian::little, "record layouts assume a little-endian host");

inline int32_t LoadInt32LE(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline uint32_t LoadUint32LE(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline uint16_t LoadUint16LE(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline double LoadDoubleLE(const uint8_t* p) {
  double v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void StoreInt32LE(uint8_t* p, int32_t v) { std::memcpy(p, &v, sizeof v); }
inline void StoreUint32LE(uint8_t* p, uint32_t v) { std::memcpy(p, &v, sizeof v); }
inline void StoreUint16LE(uint8_t* p, uint16_t v) { std::memcpy(p, &v, sizeof v); }
inline void StoreDoubleLE(uint8_t* p, double v) { std::memcpy(p, &v, sizeof v); }

}  // namespace razere
