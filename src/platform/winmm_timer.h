// MultimediaTimer on winmm: timeGetDevCaps, timeBeginPeriod/timeEndPeriod and timeSetEvent, whose
// callbacks run on winmm's timer thread. killEvent stops the event and returns only once a
// callback of that event that is already running has finished.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "platform/multimedia_timer.h"

namespace ruzazuv {

class WinmmTimer final : public MultimediaTimer {
 public:
  WinmmTimer() = default;
  ~WinmmTimer() override;
  WinmmTimer(const WinmmTimer&) = delete;
  WinmmTimer& operator=(const WinmmTimer&) = delete;

  bool getDevCaps(TimerCaps* caps) override;
  void beginPeriod(std::uint32_t periodMs) override;
  void endPeriod(std::uint32_t periodMs) override;
  TimerId setEvent(std::uint32_t delayMs, std::uint32_t resolutionMs,
                   std::function<void()> callback, bool periodic) override;
  void killEvent(TimerId id) override;

  // Events started and not yet killed (one-shot events that have fired are let go on the next
  // setEvent); for tests.
  std::size_t liveEvents();

  struct Event;

 private:
  void stop(Event& event);

  std::mutex mutex_;
  std::map<TimerId, std::unique_ptr<Event>> events_;
};

}  // namespace ruzazuv
