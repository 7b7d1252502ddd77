// The transfer confirmation dialog: layout, random placement, caption flashing, wrong clicks and
// the locked state, the keyboard block, and the scripted view that answers it headless.
#include "ui/confirm_dialog.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <vector>

#include "support/control_harness.h"
#include "support/fake_clock.h"
#include "support/scripted_test_host.h"
#include "ui/keyboard_block_hook.h"
#include "ui/scripted_dialog_host.h"

namespace ruzazuv::testing {
namespace {

using C = ConfirmDialog;

// The generator written out again: state * 214013 + 2531011, result bits 16 to 30.
struct Lcg {
  std::uint32_t state;
  int next() {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFF);
  }
};

// Pixel geometry of template 103 at 6 x 13 base units: group box 206 and the OK button.
constexpr DialogRect kGroup{18, 115, 285, 81};
constexpr DialogRect kButton{18, 122, 60, 24};
constexpr int kRangeX = kGroup.width - kButton.width - 2;    // 223
constexpr int kRangeY = kGroup.height - kButton.height - 7;  // 50

// Where the next placement of a seeded sequence puts a button.
DialogRect place(Lcg& g) {
  const int x = 19 + g.next() % kRangeX;
  const int y = 122 + g.next() % kRangeY;
  return {x, y, kButton.width, kButton.height};
}

bool inside(const DialogRect& r, const DialogRect& region) {
  return r.x >= region.x && r.y >= region.y && r.right() <= region.right() &&
         r.bottom() <= region.bottom();
}

class ConfirmDialogTest : public ::testing::Test {
 protected:
  void TearDown() override { KeyboardBlockHook::remove(); }

  // Runs a fresh dialog with `script` on the test host and returns its result.
  std::int32_t run(ScriptedTestHost::ConfirmScript script) {
    host.onConfirm(std::move(script));
    dialog = std::make_unique<C>(clock, u"012/0081234567890101", u"822/8120000000000003", u"1500");
    return dialog->run(&host);
  }

  FakeClock clock{5000, 37};
  ScriptedTestHost host;
  std::unique_ptr<C> dialog;
};

TEST_F(ConfirmDialogTest, TemplateIsConvertedToPixelsWithItsTexts) {
  const DialogLayout& d = C::templateLayout();
  EXPECT_EQ(d.templateId, 103);
  EXPECT_EQ(d.title, u"交易內容確認");
  EXPECT_EQ(d.frame, (DialogRect{300, 163, 318, 242}));
  EXPECT_FALSE(d.closeBox);
  EXPECT_FALSE(d.defaultFocus);
  ASSERT_NE(d.control(C::kGroupId), nullptr);
  EXPECT_EQ(d.control(C::kGroupId)->rect, kGroup);
  EXPECT_EQ(d.control(C::kOkId)->rect, kButton);
  EXPECT_EQ(d.control(C::kOkId)->text, u"確定");
  EXPECT_EQ(d.control(C::kCancelId)->text, u"取消");
  EXPECT_EQ(d.control(C::kCancelId)->rect, (DialogRect{242, 81, 60, 24}));
  EXPECT_EQ(d.control(C::kAmountId)->rect, (DialogRect{80, 81, 144, 23}));
  for (int id : {C::kTransferOutId, C::kTransferInId, C::kAmountId}) {
    EXPECT_FALSE(d.control(id)->enabled) << id;
    EXPECT_TRUE(d.control(id)->border) << id;
  }
  for (int id : {C::kOkId, C::kCancelId, C::kDecoyId1, C::kDecoyId2})
    EXPECT_FALSE(d.control(id)->tabStop) << id;
  std::vector<std::u16string> labels;
  for (const ControlLayout& c : d.controls)
    if (c.kind == ControlKind::kLabel) labels.push_back(c.text);
  EXPECT_EQ(labels,
            (std::vector<std::u16string>{u"轉出帳號", u"轉入帳號", u"金\u3000\u3000額",
                                         u"請移動滑鼠,點選曾經出現 [確定] 按鈕",
                                         u"若兩次未能正確點選 [確定] 按鈕, 僅能按 [取消] 按鈕"}));
}

TEST_F(ConfirmDialogTest, OpeningPlacesTheButtonsFromTheSecondsSquaredSeed) {
  std::int32_t result = run([&](DialogModel& model, TestWindow& w) {
    Lcg g{37 * 37};
    const DialogRect ok = place(g);
    const DialogRect decoy1 = place(g);
    const DialogRect decoy2 = place(g);
    EXPECT_EQ(w.control(C::kOkId).rect, ok);
    EXPECT_EQ(w.control(C::kDecoyId1).rect, decoy1);
    EXPECT_EQ(w.control(C::kDecoyId2).rect, decoy2);
    for (int id : {C::kOkId, C::kDecoyId1, C::kDecoyId2}) {
      EXPECT_TRUE(inside(w.control(id).rect, w.control(C::kGroupId).rect)) << id;
      EXPECT_EQ(w.control(id).text, u"") << id;
    }
    EXPECT_EQ(w.control(C::kTransferOutId).text, u"012/0081234567890101");
    EXPECT_EQ(w.control(C::kTransferInId).text, u"822/8120000000000003");
    EXPECT_EQ(w.control(C::kAmountId).text, u"1500");
    EXPECT_EQ(dialog->rangeX(), kRangeX);
    EXPECT_EQ(dialog->rangeY(), kRangeY);
    EXPECT_TRUE(KeyboardBlockHook::installed());
    model.onCommand(C::kCancelId, 0);
  });
  EXPECT_EQ(result, C::kCancelled);
  EXPECT_FALSE(KeyboardBlockHook::installed());
}

TEST_F(ConfirmDialogTest, PlacementStaysInsideTheRegionForEverySecond) {
  for (int s = 0; s < 60; ++s) {
    clock.setSecond(s);
    run([&](DialogModel& model, TestWindow& w) {
      for (int id : {C::kOkId, C::kDecoyId1, C::kDecoyId2})
        EXPECT_TRUE(inside(w.control(id).rect, kGroup)) << "second " << s << " button " << id;
      model.onCommand(C::kCancelId, 0);
    });
  }
}

TEST_F(ConfirmDialogTest, MouseMovesFlashTheOkCaptionFromTheMoveSeed) {
  run([&](DialogModel& model, TestWindow& w) {
    const DialogRect okBefore = w.control(C::kOkId).rect;
    int shown = 0;
    int hidden = 0;
    // (65535, 1) reaches the dialog as (-1, 1): the seed is s*s + 0.
    const std::vector<std::pair<int, int>> moves = {{10, 10}, {11, 10},   {12, 10}, {40, 3},
                                                    {5, 200}, {65535, 1}, {7, 7},   {300, 1}};
    for (auto [x, y] : moves) {
      model.onMouseMove(x, y);
      Lcg g{static_cast<std::uint32_t>(37 * 37 + static_cast<std::int16_t>(x) +
                                       static_cast<std::int16_t>(y))};
      const bool on = g.next() % 2 == 1;
      EXPECT_EQ(w.control(C::kOkId).text, on ? u"確 定" : u"") << x << "," << y;
      EXPECT_EQ(w.control(C::kDecoyId1).text, u"");
      EXPECT_EQ(w.control(C::kDecoyId2).text, u"");
      (on ? shown : hidden)++;
    }
    EXPECT_GT(shown, 0);
    EXPECT_GT(hidden, 0);
    // Moves change only the caption.
    EXPECT_EQ(w.control(C::kOkId).rect, okBefore);
    EXPECT_EQ(dialog->wrongClickCount(), 0);
    model.onCommand(C::kOkId, 0);
  });
}

TEST_F(ConfirmDialogTest, OneWrongClickReshufflesAndOkStillConfirms) {
  std::int32_t result = run([&](DialogModel& model, TestWindow& w) {
    model.onMouseMove(10, 11);  // may show the caption; the reshuffle clears it
    clock.setSecond(12);
    model.onCommand(C::kDecoyId1, 0);
    EXPECT_EQ(dialog->wrongClickCount(), 1);
    Lcg g{12 * 12};
    EXPECT_EQ(w.control(C::kOkId).rect, place(g));
    EXPECT_EQ(w.control(C::kDecoyId1).rect, place(g));
    EXPECT_EQ(w.control(C::kDecoyId2).rect, place(g));
    EXPECT_EQ(w.control(C::kOkId).text, u"");
    EXPECT_TRUE(w.control(C::kOkId).enabled);
    EXPECT_TRUE(KeyboardBlockHook::installed());
    model.onCommand(C::kOkId, 0);
  });
  EXPECT_EQ(result, C::kConfirmed);
  EXPECT_FALSE(KeyboardBlockHook::installed());
}

TEST_F(ConfirmDialogTest, TwoWrongClicksLeaveOnlyCancel) {
  std::int32_t result = run([&](DialogModel& model, TestWindow& w) {
    model.onLeftButtonDown(3, 3);
    clock.setSecond(50);
    model.onCommand(C::kDecoyId2, 0);
    EXPECT_TRUE(dialog->locked());
    Lcg g{50 * 50};
    const DialogRect cancel = place(g);
    EXPECT_EQ(w.control(C::kCancelId).rect, cancel);
    EXPECT_TRUE(inside(cancel, kGroup));
    for (int id : {C::kOkId, C::kDecoyId1, C::kDecoyId2}) {
      EXPECT_FALSE(w.control(id).enabled) << id;
      EXPECT_EQ(w.control(id).rect, (DialogRect{999, 999, kButton.width, kButton.height})) << id;
    }
    // A locked OK does nothing; further wrong clicks re-place Cancel.
    model.onCommand(C::kOkId, 0);
    EXPECT_FALSE(w.endCode().has_value());
    clock.setSecond(3);
    model.onLeftButtonDown(100, 10);
    EXPECT_EQ(dialog->wrongClickCount(), 3);
    Lcg again{3 * 3};
    EXPECT_EQ(w.control(C::kCancelId).rect, place(again));
    EXPECT_EQ(w.control(C::kOkId).rect.x, 999);
    model.onCommand(C::kCancelId, 0);
  });
  EXPECT_EQ(result, C::kCancelled);
}

TEST_F(ConfirmDialogTest, OnlyClickNotificationsCountForOkAndDecoys) {
  std::int32_t result = run([&](DialogModel& model, TestWindow& w) {
    model.onCommand(C::kDecoyId1, 1);
    model.onCommand(C::kDecoyId2, 5);
    EXPECT_EQ(dialog->wrongClickCount(), 0);
    model.onCommand(C::kOkId, 1);
    EXPECT_FALSE(w.endCode().has_value());
    model.onCommand(C::kCancelId, 0x300);  // Cancel ends whatever the notification
  });
  EXPECT_EQ(result, C::kCancelled);
}

TEST_F(ConfirmDialogTest, KeysAndCloseRequestsAreSwallowedOnlyWhileOpen) {
  using namespace window_message;
  const std::vector<std::uint32_t> blocked = {0x0100, 0x0101, 0x0102,      0x0103,   0x0104,
                                              0x0105, 0x0106, 0x0107,      0x0108,   kDestroy,
                                              kSize,  kClose, kShowWindow, kCopyData};
  const std::vector<std::uint32_t> passing = {0x00FF,          0x0109, kMouseMove,
                                              kLeftButtonDown, 0x0001, 0x0011};
  const auto message = [](std::uint32_t number) {
    return WindowMessage{0x1234, number, 0x0D, 0x1C0001};
  };
  run([&](DialogModel& model, TestWindow&) {
    for (std::uint32_t m : blocked) {
      WindowMessage msg = message(m);
      EXPECT_TRUE(KeyboardBlockHook::filter(msg)) << std::hex << m;
      EXPECT_EQ(msg, WindowMessage{}) << std::hex << m;
    }
    for (std::uint32_t m : passing) {
      WindowMessage msg = message(m);
      EXPECT_FALSE(KeyboardBlockHook::filter(msg)) << std::hex << m;
      EXPECT_EQ(msg, message(m));
    }
    // Peeked at without removal, or with a negative action code: unchanged.
    WindowMessage peeked = message(kKeyDown);
    EXPECT_FALSE(KeyboardBlockHook::filter(peeked, false));
    EXPECT_EQ(peeked, message(kKeyDown));
    WindowMessage negative = message(kClose);
    EXPECT_FALSE(KeyboardBlockHook::filter(negative, true, -1));
    EXPECT_EQ(negative, message(kClose));
    // Another thread's queue is not watched.
    std::thread([&] {
      WindowMessage other = message(kKeyDown);
      EXPECT_FALSE(KeyboardBlockHook::filter(other));
      EXPECT_EQ(other, message(kKeyDown));
    }).join();
    model.onCommand(C::kCancelId, 0);
  });
  for (std::uint32_t m : blocked) {
    WindowMessage msg = message(m);
    EXPECT_FALSE(KeyboardBlockHook::filter(msg)) << std::hex << m;
    EXPECT_EQ(msg, message(m));
  }
}

TEST_F(ConfirmDialogTest, CancelFirstRemovesTheHook) {
  EXPECT_EQ(run([](DialogModel& model, TestWindow&) { model.onCommand(C::kCancelId, 0); }),
            C::kCancelled);
  EXPECT_FALSE(KeyboardBlockHook::installed());
}

TEST_F(ConfirmDialogTest, AViewClosingWithoutAnAnswerReleasesOnlyItsOwnHook) {
  // A view that tears the window down on its own must not leave input blocked, and a dialog
  // that did not install the hook leaves someone else's alone.
  host.onConfirm([](DialogModel&, TestWindow& w) { w.endDialog(2); });
  {
    C own(clock, u"a", u"b", u"c");
    own.run(&host);
  }
  EXPECT_FALSE(KeyboardBlockHook::installed());
  ASSERT_TRUE(KeyboardBlockHook::install());
  {
    C other(clock, u"a", u"b", u"c");
    other.run(&host);
  }
  EXPECT_TRUE(KeyboardBlockHook::installed());
}

TEST_F(ConfirmDialogTest, ADialogThatCannotBeCreatedReturnsMinusOneWithoutAHook) {
  host.failCreate(C::kTemplateId);
  EXPECT_EQ(run([](DialogModel&, TestWindow&) { ADD_FAILURE() << "no window was created"; }),
            C::kNotShown);
  EXPECT_EQ(host.inits(C::kTemplateId), 0);
  EXPECT_FALSE(KeyboardBlockHook::installed());
  C none(clock, u"", u"", u"");
  EXPECT_EQ(none.run(nullptr), C::kNotShown);
}

TEST_F(ConfirmDialogTest, EveryRunConfirmDialogStartsWithNoWrongClicks) {
  ControlHarness h(&clock, nullptr, &host);
  int calls = 0;
  host.onConfirm([&](DialogModel& model, TestWindow& w) {
    ++calls;
    if (calls == 1) {
      model.onLeftButtonDown(1, 1);
      model.onLeftButtonDown(1, 1);
      model.onCommand(C::kCancelId, 0);
    } else {
      EXPECT_TRUE(w.control(C::kOkId).enabled);
      model.onCommand(C::kOkId, 0);
    }
  });
  EXPECT_EQ(h.control().RunConfirmDialog(u"x", u"y", u"1"), C::kCancelled);
  EXPECT_EQ(h.control().RunConfirmDialog(u"x", u"y", u"1"), C::kConfirmed);

  ControlHarness headless(&clock);
  EXPECT_EQ(headless.control().RunConfirmDialog(u"x", u"y", u"1"), C::kNotShown);
}

// --- The scripted view of ruzazuv-cli --------------------------------------------------------

std::int32_t runScripted(std::string_view actions, FakeClock& clock, std::string* log,
                         int dialogs = 1, std::vector<std::int32_t>* results = nullptr) {
  std::vector<ScriptedAction> list;
  EXPECT_EQ(parseScriptedActions(actions, &list), std::nullopt);
  std::ostringstream out;
  ScriptedDialogHost host(std::move(list), out);
  std::int32_t last = 0;
  for (int i = 0; i < dialogs; ++i) {
    C dialog(clock, u"012/0081234567890101", u"822/8120000000000003", u"1500");
    last = dialog.run(&host);
    if (results != nullptr) results->push_back(last);
  }
  *log = out.str();
  return last;
}

TEST_F(ConfirmDialogTest, ScriptedViewClicksWhereTheButtonsAre) {
  std::string log;
  EXPECT_EQ(runScripted("ok", clock, &log), C::kConfirmed);
  EXPECT_EQ(runScripted("decoy,ok", clock, &log), C::kConfirmed);
  EXPECT_EQ(runScripted("cancel", clock, &log), C::kCancelled);
  // Locked after two wrong clicks: the parked OK is out of reach, then the list runs out.
  EXPECT_EQ(runScripted("background,decoy,ok", clock, &log), C::kCancelled);
  EXPECT_NE(log.find("confirmation dialog: ok (the button is disabled"), std::string::npos) << log;
  EXPECT_NE(log.find("closed with 2"), std::string::npos);
  EXPECT_EQ(runScripted("", clock, &log), C::kCancelled);
  EXPECT_FALSE(KeyboardBlockHook::installed());
}

TEST_F(ConfirmDialogTest, ScriptedViewConsumesActionsAcrossDialogs) {
  std::string log;
  std::vector<std::int32_t> results;
  runScripted("unavailable,decoy,ok,unavailable,cancel", clock, &log, 4, &results);
  EXPECT_EQ(results, (std::vector<std::int32_t>{-1, 1, -1, 2}));
}

TEST(ScriptedActions, UnknownNamesAreRefused) {
  std::vector<ScriptedAction> list;
  EXPECT_EQ(parseScriptedActions("ok,background,unavailable", &list), std::nullopt);
  EXPECT_EQ(list, (std::vector<ScriptedAction>{ScriptedAction::kOk, ScriptedAction::kBackground,
                                               ScriptedAction::kUnavailable}));
  EXPECT_NE(parseScriptedActions("ok,OK", &list), std::nullopt);
  EXPECT_NE(parseScriptedActions("ok,", &list), std::nullopt);
}

}  // namespace
}  // namespace ruzazuv::testing
