// How the bridge orders calls and dialogs: one job at a time, none inside another even when a
// job spins a nested loop, and the confirmation dialog of a page that went away ends cancelled.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bridge/page_dialogs.h"
#include "bridge/serial_queue.h"
#include "support/fake_clock.h"
#include "ui/confirm_dialog.h"

namespace ruzazuv::bridge {
namespace {

// The event loop: what the queue asked to be run later.
struct Loop {
  std::vector<std::function<void()>> posted;
  void runPending() {
    while (!posted.empty()) {
      auto next = std::move(posted.front());
      posted.erase(posted.begin());
      next();
    }
  }
};

TEST(SerialQueue, RunsJobsFromTheLoopNeverFromPost) {
  Loop loop;
  SerialQueue queue([&] { loop.posted.push_back([&] { queue.drain(); }); });
  std::vector<int> ran;
  queue.post([&] { ran.push_back(1); });
  queue.post([&] { ran.push_back(2); });
  EXPECT_TRUE(ran.empty()) << "a job must not run on the stack of whoever posted it";
  EXPECT_EQ(loop.posted.size(), 1u) << "one drain is enough for both";
  loop.runPending();
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
  queue.post([&] { ran.push_back(3); });
  loop.runPending();
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(queue.pending(), 0u);
}

TEST(SerialQueue, AJobSpinningANestedLoopDefersWhatArrivesMeanwhile) {
  Loop loop;
  SerialQueue queue([&] { loop.posted.push_back([&] { queue.drain(); }); });
  std::vector<std::string> events;
  queue.post([&] {
    events.push_back("dialog open");
    // While the dialog's loop runs, other connections' requests arrive and the loop keeps
    // dispatching; none of them may start inside this call.
    queue.post([&] { events.push_back("second"); });
    queue.post([&] { events.push_back("third"); });
    loop.runPending();
    queue.drain();
    EXPECT_TRUE(queue.running());
    events.push_back("dialog closed");
  });
  loop.runPending();
  EXPECT_EQ(events, (std::vector<std::string>{"dialog open", "dialog closed", "second", "third"}));
  EXPECT_FALSE(queue.running());
}

// A view that runs a dialog "modally": onInit, then whatever the test does while it is open.
class FakeView final : public DialogHost, public DialogWindow {
 public:
  std::function<void()> whileOpen;
  std::vector<std::u16string> boxes;
  int opened = 0;

  std::int32_t runModal(DialogModel& model) override {
    ++opened;
    ended_ = false;
    code_ = -1;
    rects_.clear();
    for (const ControlLayout& c : model.layout().controls) rects_[c.id] = c.rect;
    model.onInit(*this);
    if (!ended_ && whileOpen) whileOpen();
    model.onClosed();
    return code_;
  }
  void messageBox(std::u16string_view text) override { boxes.emplace_back(text); }

  DialogRect controlRect(int id) override { return rects_[id]; }
  void moveControl(int id, DialogRect rect) override { rects_[id] = rect; }
  void setControlText(int, std::u16string_view) override {}
  void enableControl(int, bool) override {}
  void redraw(int) override {}
  void endDialog(std::int32_t code) override {
    if (ended_) return;
    ended_ = true;
    code_ = code;
  }

 private:
  std::map<int, DialogRect> rects_;
  bool ended_ = false;
  std::int32_t code_ = -1;
};

// A dialog that only its procedure closes, like the countdown.
class ProcedureDialog final : public DialogModel {
 public:
  ProcedureDialog() { spec_.templateId = 113; }
  const DialogLayout& layout() const override { return spec_; }
  void onInit(DialogWindow& window) override { window_ = &window; }
  void onCommand(int id, int) override { commands.push_back(id); }
  void finish() { window_->endDialog(2000); }
  std::vector<int> commands;

 private:
  DialogLayout spec_;
  DialogWindow* window_ = nullptr;
};

class PageDialogsTest : public ::testing::Test {
 protected:
  testing::FakeClock clock{1000, 7};
  FakeView view;
  PageDialogs dialogs{view};

  std::int32_t confirm() {
    ConfirmDialog dialog(clock, u"012/0081234567890101", u"812/8120000000000003", u"150,000");
    return dialog.run(&dialogs);
  }
};

TEST_F(PageDialogsTest, AnsweredDialogsPassThrough) {
  dialogs.beginCall();
  view.whileOpen = [&] { EXPECT_EQ(dialogs.openDialogs(), 1u); };
  // Nobody answers: the fake view returns what the dialog was ended with (not ended: -1).
  EXPECT_EQ(confirm(), -1);
  EXPECT_EQ(dialogs.openDialogs(), 0u);
  dialogs.messageBox(u"text");
  EXPECT_EQ(view.boxes.size(), 1u);
}

TEST_F(PageDialogsTest, PageGoingAwayWhileTheConfirmationIsOpenCancelsIt) {
  dialogs.beginCall();
  view.whileOpen = [&] { dialogs.pageGone(); };
  EXPECT_EQ(confirm(), ConfirmDialog::kCancelled);
  EXPECT_EQ(dialogs.openDialogs(), 0u);
  dialogs.messageBox(u"after the page left");
  EXPECT_TRUE(view.boxes.empty()) << "no message box for a page that is gone";
}

TEST_F(PageDialogsTest, AConfirmationOpenedAfterThePageLeftEndsAtOnce) {
  dialogs.beginCall();
  dialogs.pageGone();
  bool reachedLoop = false;
  view.whileOpen = [&] { reachedLoop = true; };
  EXPECT_EQ(confirm(), ConfirmDialog::kCancelled);
  EXPECT_FALSE(reachedLoop) << "ended from onInit, before the view's loop";
  // The next call belongs to a page that is there.
  dialogs.beginCall();
  dialogs.messageBox(u"shown");
  EXPECT_EQ(view.boxes.size(), 1u);
}

TEST_F(PageDialogsTest, TheCountdownIsLeftToItsProcedure) {
  dialogs.beginCall();
  ProcedureDialog countdown;
  view.whileOpen = [&] {
    dialogs.pageGone();
    countdown.finish();
  };
  EXPECT_EQ(dialogs.runModal(countdown), 2000);
  EXPECT_TRUE(countdown.commands.empty());
}

}  // namespace
}  // namespace ruzazuv::bridge
