#pragma once

#include <cstdint>
#include <random>

namespace quillon {

// Single-precision draws uniform in [0, 1). 24 random bits scaled by 2^-24 are exact in a
// float, so a draw can never round up to 1.0. Its whole state is the seed and the number of
// draws since: a recorded round starts from those two.
class Random {
 public:
  void Seed(std::uint32_t seed) {
    seed_ = seed;
    draws_ = 0;
    engine_.seed(seed);
  }
  float Next() {
    ++draws_;
    return static_cast<float>(engine_() >> 8) * 0x1p-24f;
  }
  std::uint32_t SeedValue() const { return seed_; }
  std::uint64_t Draws() const { return draws_; }
  // The state `draws` draws after `seed`.
  void Restore(std::uint32_t seed, std::uint64_t draws) {
    Seed(seed);
    engine_.discard(draws);
    draws_ = draws;
  }

 private:
  std::mt19937 engine_{0};
  std::uint32_t seed_ = 0;
  std::uint64_t draws_ = 0;
};

}  // namespace quillon
