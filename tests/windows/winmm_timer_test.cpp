// WinmmTimer against the MultimediaTimer contract: callbacks on the timer's own thread, one at a
// time per timer, a one-shot event called once, and a kill that returns only after a running
// callback has finished and after which no callback comes. Waits are bounded by events, never
// by measured durations: "later" is counted in ticks of a second, independent timer.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/winmm_timer.h"

namespace ruzazuv {
namespace {

// Counts calls and lets the test wait for a number of them (failing after a generous bound).
class Calls {
 public:
  void hit() {
    {
      std::lock_guard lock(mutex_);
      ++count_;
    }
    changed_.notify_all();
  }
  int count() {
    std::lock_guard lock(mutex_);
    return count_;
  }
  bool waitFor(int n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return count_ >= n; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

// Lets `ticks` periods of an independent periodic event go by.
void letTicksPass(WinmmTimer& timer, int ticks) {
  Calls clock;
  const auto id = timer.setEvent(
      5, 1, [&] { clock.hit(); }, true);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(clock.waitFor(ticks));
  timer.killEvent(id);
}

TEST(WinmmTimer, DeviceCapsGiveAUsablePeriodRange) {
  WinmmTimer timer;
  TimerCaps caps{0, 0};
  ASSERT_TRUE(timer.getDevCaps(&caps));
  EXPECT_GE(caps.minPeriodMs, 1u);
  EXPECT_LE(caps.minPeriodMs, caps.maxPeriodMs);
  timer.beginPeriod(caps.minPeriodMs);
  timer.endPeriod(caps.minPeriodMs);
}

TEST(WinmmTimer, PeriodicCallbacksRunOnTheTimersThreadOneAtATime) {
  WinmmTimer timer;
  Calls calls;
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::atomic<DWORD> thread{0};
  const DWORD caller = GetCurrentThreadId();
  // Each call outlasts the period, so a timer that overlapped its calls would be caught.
  const auto id = timer.setEvent(
      1, 1,
      [&] {
        if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
        thread = GetCurrentThreadId();
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
        inside.fetch_sub(1);
        calls.hit();
      },
      true);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(calls.waitFor(5));
  timer.killEvent(id);
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_NE(thread.load(), caller);
  EXPECT_NE(thread.load(), 0u);
}

TEST(WinmmTimer, AOneShotEventIsCalledOnceAndThenLetGo) {
  WinmmTimer timer;
  Calls calls;
  const auto id = timer.setEvent(
      10, 1, [&] { calls.hit(); }, false);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(calls.waitFor(1));
  letTicksPass(timer, 10);
  EXPECT_EQ(calls.count(), 1);
  // The ticks came from winmm's one thread, so the one-shot call has wholly returned by now:
  // starting another event lets it go. Killing the old id afterwards is harmless.
  letTicksPass(timer, 1);
  EXPECT_EQ(timer.liveEvents(), 0u);
  timer.killEvent(id);
  EXPECT_EQ(calls.count(), 1);
}

TEST(WinmmTimer, KillWaitsForTheRunningCallbackAndNoneComesAfterIt) {
  WinmmTimer timer;
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false;
  bool release = false;
  std::atomic<bool> finished{false};
  std::atomic<int> callsAfterKill{0};
  std::atomic<bool> killed{false};
  const auto id = timer.setEvent(
      2, 1,
      [&] {
        if (killed) callsAfterKill.fetch_add(1);
        std::unique_lock lock(mutex);
        if (entered) return;  // only the first call blocks
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
        finished = true;
      },
      true);
  ASSERT_NE(id, 0u);
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return entered; }));
  }
  // The callback is held inside; release it only a little after the kill has begun.
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::lock_guard lock(mutex);
    release = true;
    changed.notify_all();
  });
  timer.killEvent(id);
  EXPECT_TRUE(finished.load()) << "killEvent returned while the callback was still running";
  killed = true;
  releaser.join();
  letTicksPass(timer, 10);
  EXPECT_EQ(callsAfterKill.load(), 0);
}

TEST(WinmmTimer, ACallbackMayStartAnotherEvent) {
  // The countdown's poll starts the closing one-shot event from inside its own callback.
  WinmmTimer timer;
  Calls oneShot;
  std::atomic<MultimediaTimer::TimerId> started{0};
  std::atomic<bool> once{false};
  const auto poll = timer.setEvent(
      2, 1,
      [&] {
        if (once.exchange(true)) return;
        started = timer.setEvent(
            10, 1, [&] { oneShot.hit(); }, false);
      },
      true);
  ASSERT_NE(poll, 0u);
  ASSERT_TRUE(oneShot.waitFor(1));
  EXPECT_NE(started.load(), 0u);
  timer.killEvent(poll);
  timer.killEvent(started);
}

TEST(WinmmTimer, RefusalsAndUnknownIdsAreHarmless) {
  WinmmTimer timer;
  EXPECT_EQ(timer.setEvent(10, 1, nullptr, true), 0u);  // nothing to call
  timer.killEvent(0);
  timer.killEvent(12345);
  EXPECT_EQ(timer.liveEvents(), 0u);
}

TEST(WinmmTimer, DestroyingTheTimerStopsItsEvents) {
  Calls calls;
  std::atomic<int> afterDestruction{0};
  std::atomic<bool> destroyed{false};
  {
    WinmmTimer timer;
    ASSERT_NE(timer.setEvent(
                  2, 1,
                  [&] {
                    if (destroyed) afterDestruction.fetch_add(1);
                    calls.hit();
                  },
                  true),
              0u);
    ASSERT_TRUE(calls.waitFor(2));
  }
  destroyed = true;
  WinmmTimer other;
  letTicksPass(other, 10);
  EXPECT_EQ(afterDestruction.load(), 0);
}

}  // namespace
}  // namespace ruzazuv
