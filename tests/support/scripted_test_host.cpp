#include "support/scripted_test_host.h"

#include <gtest/gtest.h>

#include <memory>

namespace ruzazuv::testing {

TestWindow::TestWindow(const DialogLayout& layout, std::function<std::uint64_t()> now)
    : now_(std::move(now)) {
  for (const ControlLayout& c : layout.controls)
    if (c.id != kNoControlId) controls_[c.id] = Control{c.rect, c.text, c.enabled, {}, 0};
}

DialogRect TestWindow::controlRect(int id) {
  std::lock_guard lock(mutex_);
  auto it = controls_.find(id);
  return it == controls_.end() ? DialogRect{} : it->second.rect;
}

void TestWindow::moveControl(int id, DialogRect rect) {
  std::lock_guard lock(mutex_);
  auto it = controls_.find(id);
  if (it != controls_.end()) it->second.rect = rect;
}

void TestWindow::setControlText(int id, std::u16string_view text) {
  std::lock_guard lock(mutex_);
  auto it = controls_.find(id);
  if (it == controls_.end()) return;
  it->second.text = std::u16string(text);
  it->second.texts.emplace_back(now_(), std::u16string(text));
}

void TestWindow::enableControl(int id, bool enabled) {
  std::lock_guard lock(mutex_);
  auto it = controls_.find(id);
  if (it != controls_.end()) it->second.enabled = enabled;
}

void TestWindow::redraw(int id) {
  std::lock_guard lock(mutex_);
  if (id == kWholeDialog) {
    ++wholeRedraws_;
    return;
  }
  auto it = controls_.find(id);
  if (it != controls_.end()) ++it->second.redraws;
}

void TestWindow::endDialog(std::int32_t code) {
  std::lock_guard lock(mutex_);
  ++endCalls_;
  if (!code_) code_ = code;
}

TestWindow::Control TestWindow::control(int id) const {
  std::lock_guard lock(mutex_);
  auto it = controls_.find(id);
  return it == controls_.end() ? Control{} : it->second;
}

std::optional<std::int32_t> TestWindow::endCode() const {
  std::lock_guard lock(mutex_);
  return code_;
}

int TestWindow::endCalls() const {
  std::lock_guard lock(mutex_);
  return endCalls_;
}

int TestWindow::wholeRedraws() const {
  std::lock_guard lock(mutex_);
  return wholeRedraws_;
}

void ScriptedTestHost::at(std::uint64_t atMs, std::function<void()> action) {
  actions_.emplace(atMs, std::move(action));
}

void ScriptedTestHost::runDue(std::uint64_t elapsed) {
  while (!actions_.empty() && actions_.begin()->first <= elapsed) {
    auto action = std::move(actions_.begin()->second);
    actions_.erase(actions_.begin());
    action();
  }
}

std::int32_t ScriptedTestHost::runModal(DialogModel& model) {
  const int id = model.layout().templateId;
  ++runs_[id];
  if (failCreate_[id]) {
    failCreate_[id] = false;
    return -1;
  }
  runStart_ = timer_ != nullptr ? timer_->now() : 0;
  auto window = std::make_unique<TestWindow>(
      model.layout(), [this] { return timer_ != nullptr ? timer_->now() - runStart_ : 0; });
  TestWindow& w = *window;
  windows_[id] = std::move(window);

  if (!model.layout().anyThread) {
    model.onInit(w);
    ++inits_[id];
    if (confirmScript_) confirmScript_(model, w);
    model.onClosed();
    EXPECT_TRUE(w.endCode().has_value()) << "the confirmation script left the dialog open";
    return w.endCode().value_or(-77);
  }
  return runCountdown(model, w);
}

std::int32_t ScriptedTestHost::runCountdown(DialogModel& model, TestWindow& window) {
  const int id = model.layout().templateId;
  if (timer_ == nullptr) {
    ADD_FAILURE() << "a countdown needs a FakeTimer";
    return -77;
  }
  std::uint64_t elapsed = 0;
  // The poll already runs while the window is being created.
  while (elapsed < openAfterMs_) {
    runDue(elapsed);
    timer_->advance(10);
    elapsed += 10;
  }
  model.onInit(window);
  ++inits_[id];
  while (!window.endCode() && elapsed < giveUpMs_) {
    runDue(elapsed);
    timer_->advance(10);
    elapsed += 10;
  }
  countdownEndedAt_ = elapsed;
  model.onClosed();
  EXPECT_TRUE(window.endCode().has_value()) << "the countdown never ended";
  return window.endCode().value_or(-77);
}

void ScriptedTestHost::messageBox(std::u16string_view text) {
  messageBoxes_.emplace_back(text);
}

int ScriptedTestHost::runs(int templateId) const {
  auto it = runs_.find(templateId);
  return it == runs_.end() ? 0 : it->second;
}

int ScriptedTestHost::inits(int templateId) const {
  auto it = inits_.find(templateId);
  return it == inits_.end() ? 0 : it->second;
}

const TestWindow* ScriptedTestHost::lastWindow(int templateId) const {
  auto it = windows_.find(templateId);
  return it == windows_.end() ? nullptr : it->second.get();
}

}  // namespace ruzazuv::testing
