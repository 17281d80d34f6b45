// The one random generator of the content tools: a fixed-seed SplitMix64, so
// that every run produces the same bytes (nothing is taken from the clock).
#ifndef DEMOGEN_RANDOM_H
#define DEMOGEN_RANDOM_H

#include <cstdint>

namespace demogen {

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}

  // Next 64 random bits.
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1): the top 24 bits / 2^24, exact in a float.
  float Unit() { return float(Next() >> 40) * (1.0f / 16777216.0f); }
  // Uniform in [-1, 1).
  float Signed() { return Unit() * 2.0f - 1.0f; }
  // Uniform integer in [0, n), n > 0 (modulo bias is irrelevant here).
  uint32_t Below(uint32_t n) { return uint32_t(Next() % n); }

 private:
  uint64_t state_;
};

}  // namespace demogen

#endif
