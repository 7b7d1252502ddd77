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
  WinmmTimer();  // defined where Event is complete
  ~WinmmTimer() override;
  WinmmTimer(const WinmmTimer&) = delete;
  WinmmTimer& operator=(const WinmmTimer&) = delete;

  bool getDevCaps(TimerCaps* caps) override;
  void beginPeriod(std::uint32_t periodMs) override;
  void endPeriod(std::uint32_t periodMs) override;
  TimerId setEvent(std::uint32_t delayMs, std::uint32_t resolutionMs,
                   std::function<void()> callback, bool periodic) override;
  void killEvent(TimerId id) override;

  // Events held: started and not yet killed, less the fired one-shot events that the last
  // setEvent let go; for tests.
  std::size_t liveEvents();

  struct Event;

 private:
  void stop(Event& event);

  std::mutex mutex_;
  std::map<TimerId, std::unique_ptr<Event>> events_;
};

}  // namespace ruzazuv
