// The countdown dialog on its own: texts, the 129-byte buffer, colours, EndCountdown with its
// five-second close timer, and ends that arrive before the window exists.
#include "ui/countdown_dialog.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "platform/text_codec.h"
#include "support/fake_timer.h"
#include "support/scripted_test_host.h"
#include "ui/scripted_dialog_host.h"

namespace ruzazuv::testing {
namespace {

using D = CountdownDialog;

class CountdownDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { dialog.reset(timer); }

  // Opens a window on the dialog as a view does.
  void open() {
    window = std::make_unique<TestWindow>(D::templateLayout(), [this] { return timer.now(); });
    dialog.onInit(*window);
  }

  FakeClock clock;
  FakeTimer timer{&clock};
  D dialog;
  std::unique_ptr<TestWindow> window;
};

TEST(CountdownTexts, AreUsedAsTheyStand) {
  EXPECT_EQ(D::countdownText(15), u"請於倒數15秒內將晶片卡拔出，再插入讀卡機，以完成交易");
  EXPECT_EQ(D::countdownText(7), u"請於倒數07秒內將晶片卡拔出，再插入讀卡機，以完成交易");
  EXPECT_EQ(D::countdownText(0), u"請於倒數00秒內將晶片卡拔出，再插入讀卡機，以完成交易");
  EXPECT_EQ(D::outcomeText(2001), u"[2001]晶片卡偵測程序異常");
  EXPECT_EQ(D::outcomeText(2002), u"[2002]時間內未拔插晶片卡");
  EXPECT_EQ(D::outcomeText(2003), u"[2003]時間內未重新插入晶片卡");
  EXPECT_EQ(D::outcomeText(2004), u"[2004]晶片卡拔插時間異常");
  EXPECT_EQ(D::outcomeText(2005), u"[2005]晶片卡重新插入時間異常");
  EXPECT_EQ(D::outcomeText(2000), u"");
  EXPECT_EQ(D::outcomeText(2010), u"");
  EXPECT_EQ(D::messageBoxText(2010), u"與第一次插入之晶片卡不一致\r\n訊息代號：2010");
  EXPECT_EQ(D::messageBoxText(2011), u"與原插入之晶片卡密碼不一致\r\n訊息代號：2011");
  EXPECT_EQ(D::messageBoxText(2012), u"抽拔後卡片資料讀取失敗\r\n訊息代號：2012");
  EXPECT_EQ(D::messageBoxText(2003), u"");
}

TEST(CountdownTemplate, IsASystemModalRedTextOnButtonFace) {
  const DialogLayout& d = D::templateLayout();
  EXPECT_EQ(d.templateId, 113);
  EXPECT_EQ(d.title, u"抽拔晶片卡偵測");
  EXPECT_EQ(d.fontFace, u"新細明體");
  EXPECT_EQ(d.fontPoints, 16);
  EXPECT_TRUE(d.systemModal);
  EXPECT_FALSE(d.closeBox);
  EXPECT_TRUE(d.anyThread);
  ASSERT_EQ(d.controls.size(), 1u);
  const ControlLayout& text = d.controls.front();
  EXPECT_EQ(text.id, 207);
  EXPECT_TRUE(text.centred);
  EXPECT_TRUE(text.transparent);
  EXPECT_EQ(text.text, u"");
  EXPECT_EQ(text.rect.width, d.frame.width);
  D dialog;
  const auto colours = dialog.controlColours(207);
  ASSERT_TRUE(colours.has_value());
  EXPECT_EQ(colours->text, 0x0000F0u);
  EXPECT_TRUE(colours->transparentTextBackground);
  EXPECT_EQ(colours->background, SystemColour::kButtonFace);
  EXPECT_FALSE(dialog.controlColours(208).has_value());
}

TEST_F(CountdownDialogTest, BufferHoldsAtMost128BytesOfWholeCharacters) {
  const bool cp = D::bufferIsCp950();
  const TextCodec codec(cp ? "CP950" : "UTF-8");
  const std::u16string countdown = D::countdownText(15);
  dialog.showText(countdown);
  EXPECT_EQ(dialog.bufferBytes(), codec.toNarrow(countdown));
  EXPECT_EQ(dialog.text(), countdown);

  // 100 ideographs after one ASCII letter: the cut falls before the character that would end
  // past byte 128, never inside it.
  const std::u16string longText = u"a" + std::u16string(100, u'晶');
  dialog.showText(longText);
  const std::size_t perChar = cp ? 2 : 3;
  const std::size_t fits = (128 - 1) / perChar;
  EXPECT_EQ(dialog.bufferBytes().size(), 1 + fits * perChar);
  EXPECT_LE(dialog.bufferBytes().size(), 128u);
  EXPECT_EQ(dialog.text(), longText.substr(0, 1 + fits));

  const std::u16string ascii(200, u'x');
  dialog.showText(ascii);
  EXPECT_EQ(dialog.bufferBytes(), std::string(128, 'x'));
}

TEST_F(CountdownDialogTest, TextWaitsInTheBufferUntilTheWindowOpens) {
  EXPECT_EQ(dialog.outcome(), D::kNoOutcome);
  EXPECT_FALSE(dialog.ready());
  dialog.showText(D::countdownText(15));
  open();
  EXPECT_TRUE(dialog.ready());
  EXPECT_EQ(window->control(207).text, D::countdownText(15));
  EXPECT_EQ(window->wholeRedraws(), 1);
  EXPECT_EQ(window->control(207).redraws, 0);
  dialog.showText(D::countdownText(14));
  EXPECT_EQ(window->control(207).text, D::countdownText(14));
  EXPECT_EQ(window->control(207).redraws, 1);
  EXPECT_FALSE(window->endCode().has_value());
}

TEST_F(CountdownDialogTest, PassedEndsAtOnceWithoutACloseTimer) {
  open();
  dialog.EndCountdown(2000);
  EXPECT_EQ(window->endCode(), 2000);
  EXPECT_EQ(dialog.outcome(), 2000);
  EXPECT_TRUE(timer.started().empty());
  EXPECT_TRUE(timer.periodsBegun().empty());
}

TEST_F(CountdownDialogTest, FailureShowsItsMessageForFiveSeconds) {
  timer.setCaps({4, 50});
  open();
  dialog.EndCountdown(2003);
  EXPECT_EQ(window->control(207).text, u"[2003]時間內未重新插入晶片卡");
  ASSERT_EQ(timer.started().size(), 1u);
  EXPECT_EQ(timer.started()[0].delayMs, 5000u);
  EXPECT_EQ(timer.started()[0].resolutionMs, 4u);
  EXPECT_FALSE(timer.started()[0].periodic);
  EXPECT_EQ(timer.periodsBegun(), std::vector<std::uint32_t>{4});
  EXPECT_EQ(timer.periodsEnded(), std::vector<std::uint32_t>{4});
  timer.advance(4990);
  EXPECT_FALSE(window->endCode().has_value());
  timer.advance(10);
  EXPECT_EQ(window->endCode(), 2003);
  EXPECT_EQ(window->endCalls(), 1);
}

TEST_F(CountdownDialogTest, CodesWithoutAMessageStillCloseAfterFiveSeconds) {
  open();
  dialog.showText(D::countdownText(3));
  dialog.EndCountdown(2010);
  EXPECT_EQ(window->control(207).text, D::countdownText(3));
  timer.advance(5000);
  EXPECT_EQ(window->endCode(), 2010);
}

TEST_F(CountdownDialogTest, WithoutTheTimerTheDialogEndsAtOnce) {
  open();
  timer.failCaps(true);
  dialog.EndCountdown(2002);
  EXPECT_EQ(window->endCode(), 2002);
  EXPECT_EQ(window->control(207).text, u"");  // nothing was shown
  EXPECT_TRUE(timer.periodsBegun().empty());

  dialog.reset(timer);
  open();
  timer.failCaps(false);
  timer.failSetEvent();
  dialog.EndCountdown(2004);
  EXPECT_EQ(window->control(207).text, u"[2004]晶片卡拔插時間異常");
  EXPECT_EQ(window->endCode(), 2004);
  EXPECT_EQ(timer.periodsBegun().size(), timer.periodsEnded().size());
}

TEST_F(CountdownDialogTest, AnEndBeforeTheWindowExistsClosesItWhenItOpens) {
  dialog.showText(D::countdownText(15));
  dialog.EndCountdown(2000);
  open();
  EXPECT_EQ(window->endCode(), 2000);
  EXPECT_TRUE(dialog.ready());

  // A failure whose five seconds have passed before the window opens: it opens showing the
  // message and closes at once.
  dialog.reset(timer);
  dialog.showText(D::countdownText(15));
  dialog.EndCountdown(2001);
  timer.advance(5000);
  open();
  EXPECT_EQ(window->control(207).text, u"[2001]晶片卡偵測程序異常");
  EXPECT_EQ(window->endCode(), 2001);
  EXPECT_EQ(window->endCalls(), 1);
}

TEST_F(CountdownDialogTest, StoppingTheCloseTimerCancelsThePendingClose) {
  open();
  dialog.EndCountdown(2002);
  dialog.stopCloseTimer();
  EXPECT_EQ(timer.activeEvents(), 0u);
  timer.advance(10000);
  EXPECT_FALSE(window->endCode().has_value());
}

TEST_F(CountdownDialogTest, NoEndReachesAClosedWindow) {
  open();
  dialog.EndCountdown(2002);
  dialog.onClosed();
  timer.advance(5000);
  EXPECT_FALSE(window->endCode().has_value());
  EXPECT_EQ(dialog.run(nullptr), -1);
}

TEST(ScriptedCountdown, WaitsUntilAnotherThreadEndsIt) {
  FakeTimer timer;
  D dialog;
  dialog.reset(timer);
  dialog.showText(D::countdownText(15));
  std::ostringstream log;
  ScriptedDialogHost host({}, log);
  std::thread ender([&] {
    while (!dialog.ready()) std::this_thread::yield();
    dialog.showText(D::countdownText(14));
    dialog.EndCountdown(2000);
  });
  EXPECT_EQ(dialog.run(&host), 2000);
  ender.join();
  EXPECT_NE(log.str().find("countdown: 請於倒數15秒"), std::string::npos) << log.str();
  EXPECT_NE(log.str().find("countdown: 請於倒數14秒"), std::string::npos) << log.str();
  EXPECT_NE(log.str().find("closed with 2000"), std::string::npos);
  host.messageBox(D::messageBoxText(2010));
  EXPECT_NE(log.str().find("message box: 與第一次插入之晶片卡不一致\\r\\n訊息代號：2010 [OK]"),
            std::string::npos)
      << log.str();
}

}  // namespace
}  // namespace ruzazuv::testing
