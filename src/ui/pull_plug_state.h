// Settings and run state of the pull-plug procedure, held by each CardControl.
#pragma once

#include <atomic>
#include <cstdint>

#include "ui/countdown_dialog.h"

namespace ruzazuv {

struct PullPlugState {
  std::int32_t countdownSeconds = 15;
  std::uint32_t startTick = 0;
  std::uint32_t currentTick = 0;
  std::uint32_t elapsed = 0;
  std::int32_t lastShownSeconds = 0;
  std::uint32_t reinsertTime = 0;
  std::uint32_t removalTime = 0;
  std::uint32_t minRemovalMs = 0;
  std::uint32_t minReinsertGapMs = 0;
  // The poll runs on the timer's thread while the page's thread waits in the dialog's loop.
  std::atomic<bool> busy{false};
  std::atomic<bool> done{false};
  bool pullPlugPassed = false;
  std::atomic<bool> cardRemoved{false};
  CountdownDialog dialog;
};

}  // namespace ruzazuv
