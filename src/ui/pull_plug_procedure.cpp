// The pull-plug procedure: within a countdown the card must be pulled out of the reader and put
// back; a 10 ms poll on the timer's thread watches the reader while the page's thread waits in
// the countdown dialog's modal loop; then the returned card must be the first card and accept
// the stored PIN.
#include <cstdint>

#include "control/card_control.h"
#include "platform/pcsc.h"
#include "ui/countdown_dialog.h"
#include "ui/dialog_host.h"

namespace ruzazuv {

namespace {
namespace pull_plug {
using namespace outcome;
constexpr std::uint32_t kPollMs = 10;
}  // namespace pull_plug
}  // namespace

class PullPlugProcedure {
 public:
  // One poll step, every 10 ms on the timer's thread.
  static void PullPlugTick(CardControl& control);
};

void PullPlugProcedure::PullPlugTick(CardControl& control) {
  using namespace pull_plug;
  PullPlugState& p = control.pullPlug_;
  if (p.busy || p.done) return;
  p.busy = true;

  // Through the interface, exactly as a page would ask.
  if (control.call(Dispid::GetCardStatus) != pcsc_code::kSuccess) {
    p.done = true;
    p.dialog.EndCountdown(kStatusFailed);
    return;
  }

  p.currentTick = control.services_.clock.tickCount();
  // A reading before the start tick (in modular terms) is skipped; a counter that wrapped past
  // 2^32 since the start still gives the true elapsed time, so a run across the wrap ends.
  if (static_cast<std::int32_t>(p.currentTick - p.startTick) < 0) {
    p.busy = false;
    return;
  }
  p.elapsed = p.currentTick - p.startTick;
  const std::int64_t s = p.elapsed / 1000;

  std::int64_t remaining = p.countdownSeconds - s;
  if (remaining < 0) remaining = 0;
  if (remaining != p.lastShownSeconds) {
    p.lastShownSeconds = static_cast<std::int32_t>(remaining);
    p.dialog.showText(CountdownDialog::countdownText(p.lastShownSeconds));
  }

  const auto state = static_cast<std::uint32_t>(control.integer(Dispid::ulState));
  if (p.cardRemoved) {
    if ((state & kStatePresent) != 0) {
      p.done = true;
      p.reinsertTime = p.elapsed;
      // A reinsertion seen in the same step as the time running out counts as success.
      p.dialog.EndCountdown(p.elapsed - p.removalTime < p.minReinsertGapMs ? kReinsertedTooSoon
                                                                           : kPassed);
      return;
    }
  } else if ((state & kStateEmpty) != 0) {
    p.cardRemoved = true;
    p.removalTime = p.elapsed;
    if (p.elapsed < p.minRemovalMs) {
      p.done = true;
      p.dialog.EndCountdown(kRemovedTooSoon);
      return;
    }
  }

  if (s >= p.countdownSeconds) {
    p.done = true;
    p.dialog.EndCountdown(p.cardRemoved ? kNotReinserted : kNeverRemoved);
  }
  p.busy = false;
}

std::int32_t CardControl::RunPullPlugProcedure() {
  using namespace pull_plug;
  PullPlugState& p = pullPlug_;
  if (p.pullPlugPassed) return kPassed;

  std::int32_t outcome = kNoTimer;
  MultimediaTimer& timer = services_.timer;
  TimerCaps caps;
  if (!timer.getDevCaps(&caps)) return kNoTimer;
  const std::uint32_t period = pullPlugTimerPeriod(caps);
  timer.beginPeriod(period);

  integer(Dispid::ulState) = 0;
  p.reinsertTime = 0;
  p.removalTime = 0;
  p.done = false;
  p.busy = false;

  // The window does not exist yet: the text waits in the buffer until the dialog opens.
  p.dialog.reset(timer);
  p.dialog.showText(CountdownDialog::countdownText(p.countdownSeconds));
  p.cardRemoved = false;

  text(Dispid::baReaderName) = process_.lastReaderName;

  // The start of the countdown is fixed before the poll can run, so the first step never reads
  // a start tick that is still being written.
  p.lastShownSeconds = p.countdownSeconds;
  p.startTick = services_.clock.tickCount();
  const MultimediaTimer::TimerId poll = timer.setEvent(
      kPollMs, period, [this] { PullPlugProcedure::PullPlugTick(*this); }, true);
  if (poll == 0) {
    timer.endPeriod(period);
    return kNoTimer;
  }

  outcome = p.dialog.run(services_.dialogs);

  if (outcome == kPassed) {
    text(Dispid::baReaderName) = process_.lastReaderName;
    const Text keptPin = process_.pinStore;
    ReConnectCard();  // a failed reconnection shows in the reads and the VERIFY below
    process_.identityReadOk = true;
    const Text record3 = ReadCardIdentity("1001", "03");
    const Text record2 = ReadCardIdentity("1001", "02");
    const std::u16string identity = record2.wide() + record3.wide();
    if (identity != process_.cardIdentity.wide()) {
      outcome = process_.identityReadOk ? kDifferentCard : kIdentityUnreadable;
      if (services_.dialogs != nullptr)
        services_.dialogs->messageBox(CountdownDialog::messageBoxText(outcome));
    } else {
      process_.pinStore = keptPin;
      // With no PIN block kept there is nothing to verify with: an empty block would spend one
      // of the card's PIN tries for nothing.
      if (keptPin.isEmpty() || ReverifyStoredPin() != 0) {
        outcome = kPinMismatch;
        if (services_.dialogs != nullptr)
          services_.dialogs->messageBox(CountdownDialog::messageBoxText(outcome));
      }
      process_.pinStore = Text::empty();
    }
  }

  // The poll first (waiting for a step that is running), then a close timer it may have left.
  timer.killEvent(poll);
  p.dialog.stopCloseTimer();
  timer.endPeriod(period);

  if (outcome == kPassed) p.pullPlugPassed = true;
  return outcome;
}

}  // namespace ruzazuv
