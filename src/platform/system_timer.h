// MultimediaTimer on std::thread: each event runs on a thread of its own, so callbacks of one
// timer never overlap and never run on the caller's thread.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "platform/multimedia_timer.h"

namespace ruzazuv {

class SystemTimer final : public MultimediaTimer {
 public:
  SystemTimer() = default;
  ~SystemTimer() override;
  SystemTimer(const SystemTimer&) = delete;
  SystemTimer& operator=(const SystemTimer&) = delete;

  bool getDevCaps(TimerCaps* caps) override;
  void beginPeriod(std::uint32_t) override {}
  void endPeriod(std::uint32_t) override {}
  TimerId setEvent(std::uint32_t delayMs, std::uint32_t resolutionMs,
                   std::function<void()> callback, bool periodic) override;
  void killEvent(TimerId id) override;

 private:
  struct Event;
  std::mutex mutex_;
  std::map<TimerId, std::shared_ptr<Event>> events_;
  TimerId nextId_ = 1;
};

}  // namespace ruzazuv
