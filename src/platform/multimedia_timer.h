// A multimedia-timer contract: device caps, begin/end period, periodic or one-shot events whose
// callbacks run on the timer's own thread, and a cancel that waits for a running callback.
#pragma once

#include <cstdint>
#include <functional>

namespace ruzazuv {

struct TimerCaps {
  std::uint32_t minPeriodMs = 1;
  std::uint32_t maxPeriodMs = 1000000;
};

class MultimediaTimer {
 public:
  using TimerId = std::uint32_t;  // 0 means "not started"

  virtual ~MultimediaTimer() = default;
  virtual bool getDevCaps(TimerCaps* caps) = 0;
  virtual void beginPeriod(std::uint32_t periodMs) = 0;
  virtual void endPeriod(std::uint32_t periodMs) = 0;
  // Starts a timer; the callback runs on the timer's thread, never two at once for one timer.
  virtual TimerId setEvent(std::uint32_t delayMs, std::uint32_t resolutionMs,
                           std::function<void()> callback, bool periodic) = 0;
  // Stops the timer and waits for a callback that is running. Safe on an ended one-shot timer.
  // Must not be called from that timer's own callback.
  virtual void killEvent(TimerId id) = 0;
};

}  // namespace ruzazuv
