// Runs the connections' work fairly and never one step inside another.
//
// Each connection (a key) has its own first-in first-out list of jobs; a job runs a step at a
// time (one request of a message), and after each step the next connection with work takes its
// turn, so one connection's large batch delays another's request by one step per connection,
// not by the whole batch. Within a connection, jobs and their steps keep their order.
//
// A step may spin a nested event loop (a modal dialog), and while it does, more jobs arrive from
// the event loop: they are only queued. The drain that started the running step goes on after
// it returns, so a drain entered from inside a step returns at once. Draining is requested
// through `schedule`, which must call drain() later from the event loop (never from inside
// post), so that no step runs on the stack of whatever posted it (for instance a socket's
// signal). A drain runs steps for at most `slice` (at least one step), then schedules the next
// drain, so that the event loop reads the sockets in between.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace ruzazuv::bridge {

class RoundRobinQueue {
 public:
  using Key = std::uint64_t;

  class Job {
   public:
    virtual ~Job() = default;
    // Runs the next step; true when the job has no more. Never throws.
    virtual bool runStep() = 0;
  };

  explicit RoundRobinQueue(std::function<void()> schedule,
                           std::chrono::steady_clock::duration slice = {})
      : schedule_(std::move(schedule)), slice_(slice) {}

  void post(Key key, std::unique_ptr<Job> job);
  // Forgets the jobs of `key` that wait. A step of it running now completes, and its job is
  // then dropped.
  void drop(Key key);
  // Runs steps, round robin across the keys with work. Returns at once inside a step.
  void drain();

  bool running() const { return running_; }
  std::size_t pending() const;  // jobs waiting or under way
  bool idle() const { return !running_ && jobs_.empty(); }

 private:
  void requestDrain();

  std::function<void()> schedule_;
  std::chrono::steady_clock::duration slice_;
  std::map<Key, std::deque<std::unique_ptr<Job>>> jobs_;  // keys with work, or running
  std::deque<Key> turns_;                                 // keys with work, next first
  std::optional<Key> runningKey_;
  bool runningDropped_ = false;
  bool running_ = false;
  bool scheduled_ = false;
};

}  // namespace ruzazuv::bridge
