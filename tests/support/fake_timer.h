// A MultimediaTimer driven by virtual time: callbacks run on the test's thread when the test
// advances the timer, in the order of their due times, with a linked FakeClock moved to each due
// time first. Device caps and event starts can be made to fail.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "platform/multimedia_timer.h"
#include "support/fake_clock.h"

namespace ruzazuv::testing {

class FakeTimer final : public MultimediaTimer {
 public:
  struct Started {
    std::uint32_t delayMs = 0;
    std::uint32_t resolutionMs = 0;
    bool periodic = false;
  };

  explicit FakeTimer(FakeClock* clock = nullptr) : clock_(clock) {}

  bool getDevCaps(TimerCaps* caps) override;
  void beginPeriod(std::uint32_t periodMs) override;
  void endPeriod(std::uint32_t periodMs) override;
  TimerId setEvent(std::uint32_t delayMs, std::uint32_t resolutionMs,
                   std::function<void()> callback, bool periodic) override;
  void killEvent(TimerId id) override;

  // Moves virtual time on by `ms`, firing every event that falls due on the way.
  void advance(std::uint32_t ms);
  std::uint64_t now() const;

  void setCaps(TimerCaps caps);
  void failCaps(bool fail);
  // The next `count` setEvent calls after `after` successful ones return 0.
  void failSetEvent(int count = 1, int after = 0);

  std::size_t activeEvents() const;
  std::vector<Started> started() const;
  // Periods begun and ended so far, in call order.
  std::vector<std::uint32_t> periodsBegun() const;
  std::vector<std::uint32_t> periodsEnded() const;
  int killCount() const;

 private:
  struct Event {
    std::uint64_t due = 0;
    std::uint32_t period = 0;
    bool periodic = false;
    std::function<void()> callback;
  };

  mutable std::mutex mutex_;
  FakeClock* clock_;
  std::uint64_t now_ = 0;
  std::map<TimerId, Event> events_;
  TimerId nextId_ = 1;
  TimerCaps caps_{1, 1000000};
  bool failCaps_ = false;
  int failSkip_ = 0;
  int failCount_ = 0;
  std::vector<Started> started_;
  std::vector<std::uint32_t> begun_;
  std::vector<std::uint32_t> ended_;
  int kills_ = 0;
};

}  // namespace ruzazuv::testing
