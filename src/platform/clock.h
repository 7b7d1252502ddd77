// Time sources the control reads: the 32-bit millisecond tick counter and local calendar time.
#pragma once

#include <cstdint>

namespace ruzazuv {

struct LocalTime {
  int year = 0;
  int month = 0;  // 1 to 12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;  // 0 to 59 (60 on a leap second)
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start, wrapping after 2^32 ms like GetTickCount.
  virtual std::uint32_t tickCount() = 0;
  virtual LocalTime localTime() = 0;
};

// The monotonic clock and the system's local time zone.
class SystemClock final : public Clock {
 public:
  std::uint32_t tickCount() override;
  LocalTime localTime() override;
};

}  // namespace ruzazuv
