// A Clock whose tick counter and local time the test sets. The tick counter wraps at 2^32 ms
// as the system's does.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

#include "platform/clock.h"

namespace ruzazuv::testing {

class FakeClock final : public Clock {
 public:
  explicit FakeClock(std::uint32_t ticks = 1000, int seconds = 0);

  std::uint32_t tickCount() override;
  LocalTime localTime() override;

  void setTicks(std::uint32_t ticks) { ticks_ = ticks; }
  void advance(std::uint32_t ms) { ticks_ += ms; }  // wraps modulo 2^32
  // The next tickCount() reads `value` once; later readings continue from the true count.
  void glitchNextReading(std::uint32_t value);
  void setLocalTime(const LocalTime& time);
  void setSecond(int second);
  // How often localTime() has been read.
  int localTimeReads() const { return localTimeReads_.load(); }

 private:
  std::atomic<std::uint32_t> ticks_;
  mutable std::mutex mutex_;
  LocalTime local_;
  std::atomic<int> localTimeReads_{0};
  std::optional<std::uint32_t> glitch_;
};

}  // namespace ruzazuv::testing
