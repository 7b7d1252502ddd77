// How the bridge orders calls and dialogs: connections take turns request by request, one step
// at a time and none inside another even when a step spins a nested loop, and the confirmation
// dialog of a page that went away ends cancelled.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bridge/page_dialogs.h"
#include "bridge/round_robin_queue.h"
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

// A job of `steps` steps that logs "name.step" for each; `during` runs inside its first step.
class LoggedJob final : public RoundRobinQueue::Job {
 public:
  LoggedJob(std::vector<std::string>& log, std::string name, int steps,
            std::function<void()> during = {})
      : log_(log), name_(std::move(name)), steps_(steps), during_(std::move(during)) {}
  bool runStep() override {
    log_.push_back(name_ + "." + std::to_string(++done_));
    if (done_ == 1 && during_) during_();
    return done_ == steps_;
  }

 private:
  std::vector<std::string>& log_;
  std::string name_;
  int steps_;
  int done_ = 0;
  std::function<void()> during_;
};

struct QueueTest : ::testing::Test {
  Loop loop;
  std::vector<std::string> log;
  // A zero slice: each drain runs one step, then hands back to the loop.
  RoundRobinQueue queue{[this] { loop.posted.push_back([this] { queue.drain(); }); }};

  void post(RoundRobinQueue::Key key, std::string name, int steps,
            std::function<void()> during = {}) {
    queue.post(key, std::make_unique<LoggedJob>(log, std::move(name), steps, std::move(during)));
  }
  using Log = std::vector<std::string>;
};

TEST_F(QueueTest, RunsStepsFromTheLoopNeverFromPost) {
  post(1, "a", 1);
  post(1, "b", 1);
  EXPECT_TRUE(log.empty()) << "a step must not run on the stack of whoever posted it";
  EXPECT_EQ(loop.posted.size(), 1u) << "one drain request is enough for both";
  loop.runPending();
  EXPECT_EQ(log, (Log{"a.1", "b.1"}));
  post(1, "c", 1);
  loop.runPending();
  EXPECT_EQ(log, (Log{"a.1", "b.1", "c.1"}));
  EXPECT_TRUE(queue.idle());
}

TEST_F(QueueTest, ConnectionsTakeTurnsStepByStepAndKeepTheirOwnOrder) {
  post(1, "big", 5);
  post(1, "next", 2);
  post(2, "get", 1);
  post(3, "x", 1);
  post(3, "y", 1);
  EXPECT_EQ(queue.pending(), 5u);
  loop.runPending();
  EXPECT_EQ(log, (Log{"big.1", "get.1", "x.1", "big.2", "y.1", "big.3", "big.4", "big.5", "next.1",
                      "next.2"}));
  // A drain with time to spare runs everything at once.
  RoundRobinQueue patient([&] { loop.posted.push_back([&] { patient.drain(); }); },
                          std::chrono::hours(1));
  log.clear();
  patient.post(1, std::make_unique<LoggedJob>(log, "a", 3));
  patient.post(2, std::make_unique<LoggedJob>(log, "b", 1));
  ASSERT_EQ(loop.posted.size(), 1u);
  auto drain = std::move(loop.posted.front());
  loop.posted.clear();
  drain();
  EXPECT_EQ(log, (Log{"a.1", "b.1", "a.2", "a.3"}));
  EXPECT_TRUE(loop.posted.empty());
}

TEST_F(QueueTest, AStepSpinningANestedLoopDefersWhatArrivesMeanwhile) {
  post(1, "dialog", 2, [&] {
    // While the dialog's loop runs, requests arrive and the loop keeps dispatching; none of
    // them may start inside this step.
    post(2, "other", 1);
    post(1, "same", 1);
    loop.runPending();
    queue.drain();
    EXPECT_TRUE(queue.running());
    log.push_back("dialog closed");
  });
  loop.runPending();
  EXPECT_EQ(log, (Log{"dialog.1", "dialog closed", "other.1", "dialog.2", "same.1"}));
  EXPECT_FALSE(queue.running());
}

TEST_F(QueueTest, AConnectionThatGoesIsForgottenEvenInsideItsOwnStep) {
  post(1, "leaving", 3, [&] { queue.drop(1); });
  post(1, "queued", 1);
  post(2, "stays", 2);
  post(3, "dropped", 1);
  queue.drop(3);
  loop.runPending();
  EXPECT_EQ(log, (Log{"leaving.1", "stays.1", "stays.2"}));
  EXPECT_TRUE(queue.idle());
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
