// Runs jobs one at a time, in the order they were posted, and never one inside another.
//
// A job may spin a nested event loop (a modal dialog), and while it does, more jobs arrive from
// the event loop: they are only queued. The drain that started the running job runs them after
// it returns, so a drain entered from inside a job returns at once. Draining is requested through
// `schedule`, which must call drain() later from the event loop (never from inside post), so
// that no job runs on the stack of whatever posted it (for instance a socket's signal).
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <utility>

namespace ruzazuv::bridge {

class SerialQueue {
 public:
  explicit SerialQueue(std::function<void()> schedule) : schedule_(std::move(schedule)) {}

  void post(std::function<void()> job) {
    jobs_.push_back(std::move(job));
    if (!running_ && !scheduled_) {
      scheduled_ = true;
      schedule_();
    }
  }

  // Runs every queued job, the ones posted meanwhile included. Returns at once inside a job.
  void drain() {
    scheduled_ = false;
    if (running_) return;
    running_ = true;
    struct Reset {
      bool& flag;
      ~Reset() { flag = false; }
    } reset{running_};
    while (!jobs_.empty()) {
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      job();
    }
  }

  bool running() const { return running_; }
  std::size_t pending() const { return jobs_.size(); }

 private:
  std::function<void()> schedule_;
  std::deque<std::function<void()>> jobs_;
  bool running_ = false;
  bool scheduled_ = false;
};

}  // namespace ruzazuv::bridge
