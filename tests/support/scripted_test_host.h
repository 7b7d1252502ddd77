// A DialogHost for component tests. The confirmation dialog is driven by a script the test
// gives (it calls the model's event functions and reads the window); the countdown dialog's
// modal loop moves a FakeTimer (and the FakeClock linked to it) on in 10 ms steps and runs the
// test's actions, such as pulling the card, at chosen virtual times. Everything the models do
// to their windows is recorded.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/fake_timer.h"
#include "ui/dialog_host.h"

namespace ruzazuv::testing {

// The open dialog as the model left it; thread-safe like a view must be.
class TestWindow final : public DialogWindow {
 public:
  struct Control {
    DialogRect rect;
    std::u16string text;
    bool enabled = true;
    // Every text set, with the virtual time (ms since the dialog's run began) it was set at.
    std::vector<std::pair<std::uint64_t, std::u16string>> texts;
    int redraws = 0;
  };

  TestWindow(const DialogLayout& layout, std::function<std::uint64_t()> now);

  DialogRect controlRect(int id) override;
  void moveControl(int id, DialogRect rect) override;
  void setControlText(int id, std::u16string_view text) override;
  void enableControl(int id, bool enabled) override;
  void redraw(int id) override;
  void endDialog(std::int32_t code) override;

  Control control(int id) const;
  std::optional<std::int32_t> endCode() const;
  int endCalls() const;
  int wholeRedraws() const;

 private:
  mutable std::mutex mutex_;
  std::function<std::uint64_t()> now_;
  std::map<int, Control> controls_;
  std::optional<std::int32_t> code_;
  int endCalls_ = 0;
  int wholeRedraws_ = 0;
};

class ScriptedTestHost final : public DialogHost {
 public:
  using ConfirmScript = std::function<void(DialogModel& model, TestWindow& window)>;

  explicit ScriptedTestHost(FakeTimer* timer = nullptr) : timer_(timer) {}

  // --- Confirmation dialog --------------------------------------------------------------------
  // Runs after onInit; the dialog must have been ended when it returns.
  void onConfirm(ConfirmScript script) { confirmScript_ = std::move(script); }

  // --- Countdown dialog -----------------------------------------------------------------------
  // Runs `action` once the countdown's virtual time (ms since runModal began) reaches `atMs`.
  void at(std::uint64_t atMs, std::function<void()> action);
  // Virtual time that passes before the dialog's window opens (the timer already runs).
  void openAfter(std::uint64_t ms) { openAfterMs_ = ms; }
  // The loop gives up (and the test fails) after this much virtual time.
  void giveUpAfter(std::uint64_t ms) { giveUpMs_ = ms; }

  // The next dialog of that template cannot be created.
  void failCreate(int templateId) { failCreate_[templateId] = true; }

  std::int32_t runModal(DialogModel& model) override;
  void messageBox(std::u16string_view text) override;

  // What happened: one entry per dialog run, the last window kept for inspection.
  int runs(int templateId) const;
  int inits(int templateId) const;
  const TestWindow* lastWindow(int templateId) const;
  // Virtual time (ms since runModal began) at which the last countdown ended.
  std::uint64_t countdownEndedAt() const { return countdownEndedAt_; }
  const std::vector<std::u16string>& messageBoxes() const { return messageBoxes_; }

 private:
  std::int32_t runCountdown(DialogModel& model, TestWindow& window);
  void runDue(std::uint64_t elapsed);

  FakeTimer* timer_;
  ConfirmScript confirmScript_;
  std::multimap<std::uint64_t, std::function<void()>> actions_;
  std::uint64_t openAfterMs_ = 0;
  std::uint64_t giveUpMs_ = 120000;
  std::uint64_t runStart_ = 0;
  std::uint64_t countdownEndedAt_ = 0;
  std::map<int, bool> failCreate_;
  std::map<int, int> runs_;
  std::map<int, int> inits_;
  std::map<int, std::unique_ptr<TestWindow>> windows_;
  std::vector<std::u16string> messageBoxes_;
};

}  // namespace ruzazuv::testing
