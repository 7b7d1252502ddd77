#include "support/fake_clock.h"

namespace ruzazuv::testing {

FakeClock::FakeClock(std::uint32_t ticks, int seconds) : ticks_(ticks) {
  local_ = {2026, 3, 14, 10, 20, seconds};
}

std::uint32_t FakeClock::tickCount() {
  {
    std::lock_guard lock(mutex_);
    if (glitch_) {
      const std::uint32_t value = *glitch_;
      glitch_.reset();
      return value;
    }
  }
  return ticks_.load();
}

void FakeClock::glitchNextReading(std::uint32_t value) {
  std::lock_guard lock(mutex_);
  glitch_ = value;
}

LocalTime FakeClock::localTime() {
  ++localTimeReads_;
  std::lock_guard lock(mutex_);
  return local_;
}

void FakeClock::setLocalTime(const LocalTime& time) {
  std::lock_guard lock(mutex_);
  local_ = time;
}

void FakeClock::setSecond(int second) {
  std::lock_guard lock(mutex_);
  local_.second = second;
}

}  // namespace ruzazuv::testing
