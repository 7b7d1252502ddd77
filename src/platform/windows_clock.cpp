// SystemClock on Windows: the system's own 32-bit tick counter and its local time.
#include <windows.h>

#include "platform/clock.h"

namespace ruzazuv {

std::uint32_t SystemClock::tickCount() {
  return static_cast<std::uint32_t>(GetTickCount());
}

LocalTime SystemClock::localTime() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace ruzazuv
