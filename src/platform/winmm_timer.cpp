#include "platform/winmm_timer.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <condition_variable>
#include <utility>
#include <vector>

namespace ruzazuv {

// One started event. winmm calls `trampoline` with the event's address; the event lives in the
// timer's map until it has been stopped, and TIME_KILL_SYNCHRONOUS keeps winmm from calling it
// after timeKillEvent has returned.
struct WinmmTimer::Event {
  std::function<void()> callback;
  bool periodic = false;
  UINT id = 0;

  std::mutex mutex;
  std::condition_variable idle;
  bool running = false;
  bool stopped = false;
  bool fired = false;  // a one-shot event has had its call
};

namespace {

void CALLBACK trampoline(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  auto* event = reinterpret_cast<WinmmTimer::Event*>(user);
  {
    std::lock_guard lock(event->mutex);
    if (event->stopped || event->fired) return;
    event->running = true;
  }
  // An exception must not unwind into winmm's thread; the callbacks the control starts do not
  // throw, and a stray one is dropped here rather than ending the process.
  try {
    event->callback();
  } catch (...) {
  }
  {
    std::lock_guard lock(event->mutex);
    event->running = false;
    if (!event->periodic) event->fired = true;
  }
  event->idle.notify_all();
}

}  // namespace

WinmmTimer::WinmmTimer() = default;

WinmmTimer::~WinmmTimer() {
  std::map<TimerId, std::unique_ptr<Event>> events;
  {
    std::lock_guard lock(mutex_);
    events.swap(events_);
  }
  for (auto& [id, event] : events) stop(*event);
}

bool WinmmTimer::getDevCaps(TimerCaps* caps) {
  TIMECAPS tc{};
  if (timeGetDevCaps(&tc, sizeof(tc)) != TIMERR_NOERROR) return false;
  caps->minPeriodMs = tc.wPeriodMin;
  caps->maxPeriodMs = tc.wPeriodMax;
  return true;
}

void WinmmTimer::beginPeriod(std::uint32_t periodMs) {
  timeBeginPeriod(periodMs);
}

void WinmmTimer::endPeriod(std::uint32_t periodMs) {
  timeEndPeriod(periodMs);
}

MultimediaTimer::TimerId WinmmTimer::setEvent(std::uint32_t delayMs, std::uint32_t resolutionMs,
                                              std::function<void()> callback, bool periodic) {
  if (!callback) return 0;
  auto event = std::make_unique<Event>();
  event->callback = std::move(callback);
  event->periodic = periodic;

  std::vector<std::unique_ptr<Event>> finished;
  std::lock_guard lock(mutex_);
  // One-shot events that have had their call are done with; let them go.
  for (auto it = events_.begin(); it != events_.end();) {
    bool done = false;
    {
      std::lock_guard eventLock(it->second->mutex);
      done = it->second->fired && !it->second->running;
    }
    if (done) {
      finished.push_back(std::move(it->second));
      it = events_.erase(it);
    } else {
      ++it;
    }
  }
  // Holding mutex_ here keeps a callback that looks its own id up from seeing a half-made entry.
  const UINT flags =
      (periodic ? TIME_PERIODIC : TIME_ONESHOT) | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS;
  const MMRESULT id = timeSetEvent(delayMs, resolutionMs, trampoline,
                                   reinterpret_cast<DWORD_PTR>(event.get()), flags);
  if (id == 0) return 0;
  event->id = id;
  // A one-shot event whose id winmm hands out again replaces the finished entry.
  if (auto old = events_.find(id); old != events_.end()) {
    finished.push_back(std::move(old->second));
    events_.erase(old);
  }
  events_[id] = std::move(event);
  for (auto& done : finished) stop(*done);
  return id;
}

void WinmmTimer::stop(Event& event) {
  bool fired = false;
  {
    std::lock_guard lock(event.mutex);
    fired = event.fired;
  }
  // A one-shot event that has fired is gone from winmm, which may have given its id to a newer
  // event by now: only a live event is killed.
  if (!fired) timeKillEvent(event.id);
  std::unique_lock lock(event.mutex);
  event.stopped = true;
  event.idle.wait(lock, [&] { return !event.running; });
}

void WinmmTimer::killEvent(TimerId id) {
  std::unique_ptr<Event> event;
  {
    std::lock_guard lock(mutex_);
    auto it = events_.find(id);
    if (it == events_.end()) return;
    event = std::move(it->second);
    events_.erase(it);
  }
  stop(*event);
}

std::size_t WinmmTimer::liveEvents() {
  std::lock_guard lock(mutex_);
  return events_.size();
}

}  // namespace ruzazuv
