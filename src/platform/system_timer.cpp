#include "platform/system_timer.h"

#include <chrono>
#include <condition_variable>
#include <thread>

namespace ruzazuv {

struct SystemTimer::Event {
  std::mutex mutex;
  std::condition_variable wake;
  bool stopped = false;
  std::thread thread;
};

SystemTimer::~SystemTimer() {
  std::map<TimerId, std::shared_ptr<Event>> events;
  {
    std::lock_guard lock(mutex_);
    events.swap(events_);
  }
  for (auto& [id, event] : events) {
    {
      std::lock_guard lock(event->mutex);
      event->stopped = true;
    }
    event->wake.notify_all();
    if (event->thread.joinable()) event->thread.join();
  }
}

bool SystemTimer::getDevCaps(TimerCaps* caps) {
  caps->minPeriodMs = 1;
  caps->maxPeriodMs = 1000000;
  return true;
}

MultimediaTimer::TimerId SystemTimer::setEvent(std::uint32_t delayMs, std::uint32_t,
                                               std::function<void()> callback, bool periodic) {
  if (!callback || delayMs == 0) return 0;
  auto event = std::make_shared<Event>();
  TimerId id = 0;
  {
    std::lock_guard lock(mutex_);
    id = nextId_++;
    if (nextId_ == 0) nextId_ = 1;
    events_[id] = event;
  }
  const auto period = std::chrono::milliseconds(delayMs);
  event->thread = std::thread([event, period, periodic, cb = std::move(callback)] {
    auto due = std::chrono::steady_clock::now() + period;
    std::unique_lock lock(event->mutex);
    while (!event->stopped) {
      if (event->wake.wait_until(lock, due, [&] { return event->stopped; })) break;
      lock.unlock();
      cb();
      lock.lock();
      if (!periodic) break;
      // A slow callback skips the missed periods instead of firing them back to back.
      due += period;
      const auto now = std::chrono::steady_clock::now();
      if (due < now) due = now + period;
    }
  });
  return id;
}

void SystemTimer::killEvent(TimerId id) {
  std::shared_ptr<Event> event;
  {
    std::lock_guard lock(mutex_);
    auto it = events_.find(id);
    if (it == events_.end()) return;
    event = it->second;
    events_.erase(it);
  }
  {
    std::lock_guard lock(event->mutex);
    event->stopped = true;
  }
  event->wake.notify_all();
  if (event->thread.get_id() == std::this_thread::get_id()) {
    event->thread.detach();  // killed from its own callback: it ends when the callback returns
  } else if (event->thread.joinable()) {
    event->thread.join();
  }
}

}  // namespace ruzazuv
