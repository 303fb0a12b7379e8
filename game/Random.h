#pragma once

#include <cstdint>
#include <random>

namespace quillon {

// Single-precision draws uniform in [0, 1). 24 random bits scaled by 2^-24 are exact in a
// float, so a draw can never round up to 1.0.
class Random {
 public:
  void Seed(std::uint32_t seed) { engine_.seed(seed); }
  float Next() { return static_cast<float>(engine_() >> 8) * 0x1p-24f; }

 private:
  std::mt19937 engine_{0};
};

}  // namespace quillon
