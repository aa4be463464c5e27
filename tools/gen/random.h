// The generator's random source. std::mt19937_64 is fully specified by the
// standard, but the std:: distributions are not, so every draw goes through
// the functions below: the same seed gives the same installations with any
// standard library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

namespace razere::gen {

// A well-mixed 64-bit value from (seed, stream): one independent random
// stream per purpose, so that adding draws to one part of an installation
// leaves the other parts as they were.
constexpr uint64_t MixSeed(uint64_t seed, uint64_t stream) {
  uint64_t z = seed + 0x9E3779B97F4A7C15ULL * (stream + 1);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

class GenRandom {
 public:
  explicit GenRandom(uint64_t seed) : eng_(seed) {}

  uint64_t Next() { return eng_(); }

  // Uniform in [0, n); n == 0 gives 0. Rejection keeps it exactly uniform.
  uint64_t Below(uint64_t n) {
    if (n <= 1) return 0;
    const uint64_t limit = UINT64_MAX - UINT64_MAX % n;  // a multiple of n
    uint64_t x;
    do x = eng_();
    while (x >= limit);
    return x % n;
  }

  // Uniform in [lo, hi], inclusive; lo > hi gives lo.
  int64_t Range(int64_t lo, int64_t hi) {
    if (hi <= lo) return lo;
    return lo + static_cast<int64_t>(Below(static_cast<uint64_t>(hi - lo) + 1));
  }

  // Uniform in [0, 1) with 53 bits.
  double Unit() { return static_cast<double>(eng_() >> 11) * 0x1.0p-53; }

  bool Chance(double p) { return Unit() < p; }

  template <class T>
  const T& Pick(const std::vector<T>& v) {
    if (v.empty()) throw std::logic_error("GenRandom::Pick on an empty list");
    return v[static_cast<size_t>(Below(v.size()))];
  }

  // Fisher-Yates, last element first.
  template <class T>
  void Shuffle(std::vector<T>& v) {
    for (size_t i = v.size(); i > 1; --i) {
      size_t j = static_cast<size_t>(Below(i));
      std::swap(v[i - 1], v[j]);
    }
  }

 private:
  std::mt19937_64 eng_;
};

}  // namespace razere::gen
