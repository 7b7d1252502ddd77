// The random numbers that place the confirmation dialog's buttons: a linear congruential
// generator, state <- state * 214013 + 2531011 (mod 2^32), each result bits 16 to 30 of the new
// state (0 to 32767). Seeding sets the state to the seed.
#pragma once

#include <cstdint>

namespace ruzazuv {

class DialogRandom {
 public:
  static constexpr std::uint32_t kMultiplier = 214013u;
  static constexpr std::uint32_t kIncrement = 2531011u;
  static constexpr int kMax = 32767;

  void seed(std::uint32_t value) { state_ = value; }
  int next() {
    state_ = state_ * kMultiplier + kIncrement;
    return static_cast<int>((state_ >> 16) & 0x7FFFu);
  }
  std::uint32_t state() const { return state_; }

 private:
  std::uint32_t state_ = 1;
};

}  // namespace ruzazuv
