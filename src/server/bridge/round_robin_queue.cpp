#include "bridge/round_robin_queue.h"

#include <algorithm>
#include <utility>

namespace ruzazuv::bridge {

void RoundRobinQueue::post(Key key, std::unique_ptr<Job> job) {
  std::deque<std::unique_ptr<Job>>& list = jobs_[key];
  const bool hadWork = !list.empty() || runningKey_ == key;
  list.push_back(std::move(job));
  // A key takes turns while it has work; the running key rejoins them after its step.
  if (!hadWork) turns_.push_back(key);
  requestDrain();
}

void RoundRobinQueue::drop(Key key) {
  if (runningKey_ == key) {
    runningDropped_ = true;
    if (auto it = jobs_.find(key); it != jobs_.end()) it->second.clear();
    return;
  }
  jobs_.erase(key);
  turns_.erase(std::remove(turns_.begin(), turns_.end(), key), turns_.end());
}

void RoundRobinQueue::drain() {
  scheduled_ = false;
  if (running_) return;
  running_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{running_};
  const auto start = std::chrono::steady_clock::now();
  while (!turns_.empty()) {
    const Key key = turns_.front();
    turns_.pop_front();
    auto it = jobs_.find(key);
    // Taken out while it runs: whatever the step does to the lists leaves it alone.
    std::unique_ptr<Job> job = std::move(it->second.front());
    it->second.pop_front();
    runningKey_ = key;
    runningDropped_ = false;
    const bool done = job->runStep();
    runningKey_.reset();
    it = jobs_.find(key);
    if (runningDropped_) {
      job.reset();
      if (it != jobs_.end()) jobs_.erase(it);
      continue;
    }
    if (!done) it->second.push_front(std::move(job));
    if (it->second.empty())
      jobs_.erase(it);
    else
      turns_.push_back(key);
    job.reset();
    if (!turns_.empty() && std::chrono::steady_clock::now() - start >= slice_) {
      // The rest in a later drain, after the event loop has read the sockets.
      if (!scheduled_) {
        scheduled_ = true;
        schedule_();
      }
      return;
    }
  }
}

std::size_t RoundRobinQueue::pending() const {
  std::size_t count = runningKey_ ? 1 : 0;
  for (const auto& [key, list] : jobs_) count += list.size();
  return count;
}

void RoundRobinQueue::requestDrain() {
  if (running_ || scheduled_) return;
  scheduled_ = true;
  schedule_();
}

}  // namespace ruzazuv::bridge
