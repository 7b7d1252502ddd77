// The pull-plug procedure on the simulated reader with virtual time: every outcome, the
// countdown text, the timers it uses, a card already out, the tick counter's wrap.
#include <gtest/gtest.h>

#include "platform/pcsc.h"
#include "support/control_harness.h"
#include "support/fake_clock.h"
#include "support/fake_timer.h"
#include "support/scripted_test_host.h"
#include "ui/countdown_dialog.h"

namespace ruzazuv::testing {
namespace {

using D = CountdownDialog;

constexpr std::int32_t kCommError = static_cast<std::int32_t>(0x80100013);  // SCARD_F_COMM_ERROR
const std::string kVerifyStored = "0020001008";

class PullPlugTest : public ::testing::Test {
 protected:
  void SetUp() override { h.connectAndVerify(); }

  CardControl& control() { return h.control(); }
  PullPlugState& state() { return control().pullPlug(); }
  std::int32_t run() { return control().RunPullPlugProcedure(); }

  void pullAt(std::uint64_t ms) {
    host.at(ms, [this] { h.pcsc.removeCard(kReader); });
  }
  void insertAt(std::uint64_t ms, std::shared_ptr<sim::FiscCard> card = nullptr) {
    host.at(ms, [this, card] { h.pcsc.insertCard(kReader, card ? card : h.card); });
  }
  // The texts static 207 showed, in order, with the virtual time each was set at.
  std::vector<std::pair<std::uint64_t, std::u16string>> shown() const {
    const TestWindow* w = host.lastWindow(D::kTemplateId);
    return w != nullptr ? w->control(D::kTextId).texts
                        : std::vector<std::pair<std::uint64_t, std::u16string>>{};
  }
  bool sentVerifyAfter(std::size_t from) const {
    const auto commands = h.commandsHex();
    for (std::size_t i = from; i < commands.size(); ++i)
      if (commands[i].rfind(kVerifyStored, 0) == 0) return true;
    return false;
  }
  void expectTimersReleased() const {
    EXPECT_EQ(timer.activeEvents(), 0u);
    EXPECT_EQ(timer.periodsBegun().size(), timer.periodsEnded().size());
  }

  FakeClock clock{100000, 30};
  FakeTimer timer{&clock};
  ScriptedTestHost host{&timer};
  ControlHarness h{&clock, &timer, &host};
};

TEST_F(PullPlugTest, CardLeftInCountsDownFrom15To00ThenShows2002ForFiveSeconds) {
  EXPECT_EQ(run(), 2002);
  const auto texts = shown();
  ASSERT_EQ(texts.size(), 17u);
  EXPECT_EQ(texts[0], (std::pair<std::uint64_t, std::u16string>{0, D::countdownText(15)}));
  for (int i = 1; i <= 15; ++i) {
    EXPECT_EQ(texts[i].first, static_cast<std::uint64_t>(i) * 1000) << i;
    EXPECT_EQ(texts[i].second, D::countdownText(15 - i)) << i;
  }
  EXPECT_EQ(texts[15].second, u"請於倒數00秒內將晶片卡拔出，再插入讀卡機，以完成交易");
  EXPECT_EQ(texts[16], (std::pair<std::uint64_t, std::u16string>{15000, D::outcomeText(2002)}));
  EXPECT_GE(host.countdownEndedAt(), 20000u);
  EXPECT_LE(host.countdownEndedAt(), 20010u);
  EXPECT_FALSE(state().pullPlugPassed);
  EXPECT_TRUE(host.messageBoxes().empty());
  expectTimersReleased();
}

TEST_F(PullPlugTest, TimersUseTheFinestPeriodAndA10msPoll) {
  timer.setCaps({0, 500});
  run();
  ASSERT_EQ(timer.started().size(), 2u);
  EXPECT_EQ(timer.started()[0].delayMs, 10u);
  EXPECT_EQ(timer.started()[0].resolutionMs, 1u);  // never below 1 ms
  EXPECT_TRUE(timer.started()[0].periodic);
  EXPECT_EQ(timer.started()[1].delayMs, 5000u);
  EXPECT_FALSE(timer.started()[1].periodic);
  EXPECT_EQ(timer.periodsBegun(), (std::vector<std::uint32_t>{1, 1}));

  FakeClock clock2;
  FakeTimer timer2(&clock2);
  ScriptedTestHost host2(&timer2);
  ControlHarness other(&clock2, &timer2, &host2);
  other.connect();
  timer2.setCaps({16, 8});  // the maximum bounds the period
  other.control().RunPullPlugProcedure();
  EXPECT_EQ(timer2.started()[0].resolutionMs, 8u);
}

TEST_F(PullPlugTest, SameCardPulledAndReinsertedInTimePasses) {
  pullAt(2000);
  insertAt(4500);
  const std::size_t before = h.commands().size();
  EXPECT_EQ(run(), 2000);
  EXPECT_TRUE(state().pullPlugPassed);
  EXPECT_LE(host.countdownEndedAt(), 4520u);  // closes at once, no five-second message
  EXPECT_EQ(state().removalTime, 2010u);
  EXPECT_EQ(state().reinsertTime, 4510u);
  for (const auto& [at, text] : shown()) EXPECT_NE(text.substr(0, 1), u"[") << at;
  EXPECT_TRUE(sentVerifyAfter(before));
  EXPECT_EQ(h.commandsHex().back(), kVerifyStored + "123456FFFFFFFFFF");
  EXPECT_EQ(control().getText(Dispid::Pin), u"");
  EXPECT_TRUE(host.messageBoxes().empty());
  expectTimersReleased();

  // Passed once: the next call answers 2000 at once.
  const int runsBefore = host.runs(D::kTemplateId);
  const std::size_t startedBefore = timer.started().size();
  EXPECT_EQ(run(), 2000);
  EXPECT_EQ(host.runs(D::kTemplateId), runsBefore);
  EXPECT_EQ(timer.started().size(), startedBefore);
}

TEST_F(PullPlugTest, CardTakenOutAndLeftOutEndsWith2003) {
  pullAt(3000);
  EXPECT_EQ(run(), 2003);
  EXPECT_EQ(shown().back().second, u"[2003]時間內未重新插入晶片卡");
  EXPECT_GE(host.countdownEndedAt(), 20000u);
  EXPECT_FALSE(state().pullPlugPassed);
  expectTimersReleased();
}

TEST_F(PullPlugTest, FailingStatusQueryEndsWith2001AfterItsMessage) {
  h.pcsc.failCall("getStatusChange", kCommError, 1, 250);
  EXPECT_EQ(run(), 2001);
  EXPECT_EQ(shown().back(), (std::pair<std::uint64_t, std::u16string>{2510, D::outcomeText(2001)}));
  EXPECT_GE(host.countdownEndedAt(), 7510u);
  EXPECT_LE(host.countdownEndedAt(), 7520u);
  expectTimersReleased();
}

TEST_F(PullPlugTest, StatusFailureBeforeTheWindowExistsStillClosesIt) {
  h.pcsc.failCall("getStatusChange", kCommError);
  host.openAfter(30);
  EXPECT_EQ(run(), 2001);
  EXPECT_EQ(shown().front().second, D::outcomeText(2001));  // the window opens on the message
  EXPECT_LE(host.countdownEndedAt(), 5020u);

  // The five seconds have already passed when the window opens: it closes at once.
  state().pullPlugPassed = false;
  h.pcsc.failCall("getStatusChange", kCommError);
  host.openAfter(6000);
  EXPECT_EQ(run(), 2001);
  EXPECT_EQ(host.countdownEndedAt(), 6000u);
  expectTimersReleased();
}

TEST_F(PullPlugTest, ThresholdsTurnEarlyRemovalAndQuickReinsertionIntoFailures) {
  state().minRemovalMs = 3000;
  pullAt(1000);
  EXPECT_EQ(run(), 2004);
  EXPECT_EQ(shown().back().second, D::outcomeText(2004));

  h.pcsc.insertCard(kReader, h.card);
  state().minRemovalMs = 500;
  state().minReinsertGapMs = 2000;
  pullAt(1000);
  insertAt(2500);
  EXPECT_EQ(run(), 2005);
  EXPECT_EQ(shown().back().second, D::outcomeText(2005));
  EXPECT_EQ(state().reinsertTime - state().removalTime, 1500u);

  h.pcsc.insertCard(kReader, h.card);
  pullAt(1000);
  insertAt(3500);
  EXPECT_EQ(run(), 2000);  // both thresholds met
  expectTimersReleased();
}

TEST_F(PullPlugTest, ADifferentCardEndsWith2010AndItsMessageBox) {
  pullAt(1000);
  insertAt(2000, makeCard("second-card.json"));
  const std::size_t before = h.commands().size();
  EXPECT_EQ(run(), 2010);
  ASSERT_EQ(host.messageBoxes().size(), 1u);
  EXPECT_EQ(host.messageBoxes()[0], u"與第一次插入之晶片卡不一致\r\n訊息代號：2010");
  EXPECT_FALSE(sentVerifyAfter(before));  // the stranger never sees the PIN
  EXPECT_FALSE(state().pullPlugPassed);
  expectTimersReleased();
}

TEST_F(PullPlugTest, AStoredPinTheCardRefusesEndsWith2011) {
  control().putText(Dispid::Pin, u"999999");
  pullAt(1000);
  insertAt(2000);
  EXPECT_EQ(run(), 2011);
  ASSERT_EQ(host.messageBoxes().size(), 1u);
  EXPECT_EQ(host.messageBoxes()[0], u"與原插入之晶片卡密碼不一致\r\n訊息代號：2011");
  EXPECT_EQ(h.commandsHex().back(), kVerifyStored + "999999FFFFFFFFFF");
  EXPECT_EQ(control().getText(Dispid::Pin), u"");
}

TEST_F(PullPlugTest, NoStoredPinIsRefusedWithoutSpendingATry) {
  h.process.pinStore.assign(u"");
  pullAt(1000);
  insertAt(2000);
  const std::size_t before = h.commands().size();
  EXPECT_EQ(run(), 2011);
  EXPECT_FALSE(sentVerifyAfter(before));
}

TEST_F(PullPlugTest, AnUnreadableIdentityAfterReinsertionEndsWith2012) {
  pullAt(1000);
  // The reconnection's application selection passes; the next exchange fails.
  host.at(2000, [this] {
    h.pcsc.insertCard(kReader, h.card);
    h.pcsc.failCall("transmit", kCommError, 1, 1);
  });
  EXPECT_EQ(run(), 2012);
  ASSERT_EQ(host.messageBoxes().size(), 1u);
  EXPECT_EQ(host.messageBoxes()[0], u"抽拔後卡片資料讀取失敗\r\n訊息代號：2012");
  EXPECT_FALSE(h.process.identityReadOk);
}

TEST_F(PullPlugTest, AnUnusableTimerGivesMinus99) {
  timer.failCaps(true);
  EXPECT_EQ(run(), -99);
  EXPECT_EQ(host.runs(D::kTemplateId), 0);
  EXPECT_TRUE(timer.periodsBegun().empty());

  timer.failCaps(false);
  control().putInt(Dispid::ulState, 0x22);
  timer.failSetEvent();
  EXPECT_EQ(run(), -99);
  EXPECT_EQ(host.runs(D::kTemplateId), 0);
  EXPECT_EQ(control().getInt(Dispid::ulState), 0);  // the resets ran
  EXPECT_EQ(state().dialog.text(), D::countdownText(15));
  expectTimersReleased();
}

TEST_F(PullPlugTest, NoDialogMeansMinus1WithTheTimerStopped) {
  host.failCreate(D::kTemplateId);
  EXPECT_EQ(run(), -1);
  expectTimersReleased();

  ControlHarness headless(&clock, &timer);
  headless.connect();
  EXPECT_EQ(headless.control().RunPullPlugProcedure(), -1);
  expectTimersReleased();
  EXPECT_FALSE(headless.control().pullPlug().pullPlugPassed);
}

TEST_F(PullPlugTest, ACardAlreadyOutCountsAsRemovedOnTheFirstStep) {
  h.pcsc.removeCard(kReader);
  insertAt(3000);
  EXPECT_EQ(run(), 2000);
  EXPECT_EQ(state().removalTime, 10u);
}

TEST_F(PullPlugTest, ARunAcrossTheTickCounterWrapStillEnds) {
  clock.setTicks(0xFFFFFFFFu - 4000);
  pullAt(2000);
  insertAt(7000);
  EXPECT_EQ(run(), 2000);
  EXPECT_EQ(state().reinsertTime, 7010u);

  state().pullPlugPassed = false;
  clock.setTicks(0xFFFFFFFFu - 4000);
  EXPECT_EQ(run(), 2002);  // no card action: the countdown still runs out across the wrap
  EXPECT_LE(host.countdownEndedAt(), 20010u);
}

TEST_F(PullPlugTest, AReadingBeforeTheStartTickSkipsOnlyThatStep) {
  // One reading behind the start: taken as elapsed time it would be some 49 days.
  host.at(1000, [this] { clock.glitchNextReading(clock.tickCount() - 1001 - 10); });
  pullAt(1500);
  insertAt(2500);
  EXPECT_EQ(run(), 2000);
}

TEST_F(PullPlugTest, ASecondControlWatchesTheReaderLastChosen) {
  CardControl& second = h.newControl();
  pullAt(1000);
  insertAt(2000);
  // The new control's own reader name is empty: without the copy of the last one chosen the
  // status query would fail.
  EXPECT_EQ(second.RunPullPlugProcedure(), 2000);
}

}  // namespace
}  // namespace ruzazuv::testing
