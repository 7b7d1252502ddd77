#include "support/fake_timer.h"

namespace ruzazuv::testing {

bool FakeTimer::getDevCaps(TimerCaps* caps) {
  std::lock_guard lock(mutex_);
  if (failCaps_) return false;
  *caps = caps_;
  return true;
}

void FakeTimer::beginPeriod(std::uint32_t periodMs) {
  std::lock_guard lock(mutex_);
  begun_.push_back(periodMs);
}

void FakeTimer::endPeriod(std::uint32_t periodMs) {
  std::lock_guard lock(mutex_);
  ended_.push_back(periodMs);
}

MultimediaTimer::TimerId FakeTimer::setEvent(std::uint32_t delayMs, std::uint32_t resolutionMs,
                                             std::function<void()> callback, bool periodic) {
  std::lock_guard lock(mutex_);
  if (failSkip_ > 0) {
    --failSkip_;
  } else if (failCount_ > 0) {
    --failCount_;
    return 0;
  }
  if (!callback || delayMs == 0) return 0;
  started_.push_back({delayMs, resolutionMs, periodic});
  const TimerId id = nextId_++;
  events_[id] = Event{now_ + delayMs, delayMs, periodic, std::move(callback)};
  return id;
}

void FakeTimer::killEvent(TimerId id) {
  std::lock_guard lock(mutex_);
  ++kills_;
  events_.erase(id);
}

void FakeTimer::advance(std::uint32_t ms) {
  std::unique_lock lock(mutex_);
  const std::uint64_t target = now_ + ms;
  for (;;) {
    auto due = events_.end();
    for (auto it = events_.begin(); it != events_.end(); ++it)
      if (it->second.due <= target && (due == events_.end() || it->second.due < due->second.due))
        due = it;
    if (due == events_.end()) break;
    if (clock_ != nullptr) clock_->advance(static_cast<std::uint32_t>(due->second.due - now_));
    now_ = due->second.due;
    std::function<void()> callback = due->second.callback;
    if (due->second.periodic) {
      due->second.due += due->second.period;
    } else {
      events_.erase(due);
    }
    lock.unlock();
    callback();
    lock.lock();
  }
  if (clock_ != nullptr) clock_->advance(static_cast<std::uint32_t>(target - now_));
  now_ = target;
}

std::uint64_t FakeTimer::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

void FakeTimer::setCaps(TimerCaps caps) {
  std::lock_guard lock(mutex_);
  caps_ = caps;
}

void FakeTimer::failCaps(bool fail) {
  std::lock_guard lock(mutex_);
  failCaps_ = fail;
}

void FakeTimer::failSetEvent(int count, int after) {
  std::lock_guard lock(mutex_);
  failCount_ = count;
  failSkip_ = after;
}

std::size_t FakeTimer::activeEvents() const {
  std::lock_guard lock(mutex_);
  return events_.size();
}

std::vector<FakeTimer::Started> FakeTimer::started() const {
  std::lock_guard lock(mutex_);
  return started_;
}

std::vector<std::uint32_t> FakeTimer::periodsBegun() const {
  std::lock_guard lock(mutex_);
  return begun_;
}

std::vector<std::uint32_t> FakeTimer::periodsEnded() const {
  std::lock_guard lock(mutex_);
  return ended_;
}

int FakeTimer::killCount() const {
  std::lock_guard lock(mutex_);
  return kills_;
}

}  // namespace ruzazuv::testing
