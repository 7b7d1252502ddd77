#include "bridge/scripted_view.h"

#include <QDebug>
#include <QEventLoop>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <map>
#include <mutex>

#include "ui/confirm_dialog.h"

namespace ruzazuv::bridge {
namespace {

// The open dialog's state. Calls from other threads (the countdown's timer) only touch the
// locked state and post the loop's exit to the dialog's own thread.
class ScriptedWindow final : public DialogWindow {
 public:
  ScriptedWindow(const DialogLayout& layout, QEventLoop& loop) : loop_(&loop) {
    for (const ControlLayout& c : layout.controls)
      if (c.id != kNoControlId) controls_[c.id] = {c.rect, c.enabled};
  }

  DialogRect controlRect(int id) override {
    std::lock_guard lock(mutex_);
    auto it = controls_.find(id);
    return it == controls_.end() ? DialogRect{} : it->second.rect;
  }
  void moveControl(int id, DialogRect rect) override {
    std::lock_guard lock(mutex_);
    if (auto it = controls_.find(id); it != controls_.end()) it->second.rect = rect;
  }
  void setControlText(int, std::u16string_view) override {}
  void enableControl(int id, bool enabled) override {
    std::lock_guard lock(mutex_);
    if (auto it = controls_.find(id); it != controls_.end()) it->second.enabled = enabled;
  }
  void redraw(int) override {}
  void endDialog(std::int32_t code) override {
    {
      std::lock_guard lock(mutex_);
      if (ended_) return;
      ended_ = true;
      code_ = code;
    }
    // Queued: the loop may not be running yet (ended from onInit), and the caller may be the
    // timer's thread.
    QMetaObject::invokeMethod(loop_, "quit", Qt::QueuedConnection);
  }

  bool ended() {
    std::lock_guard lock(mutex_);
    return ended_;
  }
  std::int32_t code() {
    std::lock_guard lock(mutex_);
    return code_;
  }
  bool enabled(int id) {
    std::lock_guard lock(mutex_);
    auto it = controls_.find(id);
    return it != controls_.end() && it->second.enabled;
  }
  // A point of the client area that no control covers.
  std::pair<int, int> backgroundPoint(const DialogLayout& layout) {
    std::lock_guard lock(mutex_);
    for (int y = 1; y < layout.frame.height; y += 3)
      for (int x = 1; x < layout.frame.width; x += 3) {
        bool covered = false;
        for (const ControlLayout& c : layout.controls) {
          const auto it = controls_.find(c.id);
          const DialogRect r = it == controls_.end() ? c.rect : it->second.rect;
          if (r.contains(x, y)) covered = true;
        }
        if (!covered) return {x, y};
      }
    return {0, 0};
  }

 private:
  struct Control {
    DialogRect rect;
    bool enabled = true;
  };
  std::mutex mutex_;
  std::map<int, Control> controls_;
  bool ended_ = false;
  std::int32_t code_ = -1;  // a loop ended from outside (the bridge stopping) ended nothing
  QPointer<QEventLoop> loop_;
};

}  // namespace

std::int32_t ScriptedView::runModal(DialogModel& model) {
  const DialogLayout& layout = model.layout();
  const bool confirmation = layout.templateId == ConfirmDialog::kTemplateId;
  if (confirmation && !actions_.empty() && actions_.front().step == ViewStep::kUnavailable) {
    actions_.pop_front();
    return -1;
  }
  QEventLoop loop;
  ScriptedWindow window(layout, loop);
  qInfo("ruzazuv-bridge: dialog %d open", layout.templateId);
  model.onInit(window);

  // Feeds the next action after its wait, and again while the dialog stays open.
  QTimer feeder;
  feeder.setSingleShot(true);
  auto armNext = [&] {
    if (window.ended()) return;
    if (actions_.empty()) {
      feeder.start(0);  // the list ran out: cancel
      return;
    }
    if (actions_.front().step == ViewStep::kHold) {
      actions_.pop_front();  // open until the page goes; the next dialog takes the next action
      return;
    }
    feeder.start(static_cast<int>(actions_.front().delayMs));
  };
  QObject::connect(&feeder, &QTimer::timeout, [&] {
    if (window.ended()) return;
    ViewStep step = ViewStep::kCancel;
    if (!actions_.empty()) {
      step = actions_.front().step;
      actions_.pop_front();
    }
    switch (step) {
      case ViewStep::kOk:
        if (window.enabled(ConfirmDialog::kOkId)) model.onCommand(ConfirmDialog::kOkId, 0);
        break;
      case ViewStep::kDecoy:
        if (window.enabled(ConfirmDialog::kDecoyId1)) model.onCommand(ConfirmDialog::kDecoyId1, 0);
        break;
      case ViewStep::kBackground: {
        const auto [x, y] = window.backgroundPoint(layout);
        model.onLeftButtonDown(x, y);
        break;
      }
      case ViewStep::kUnavailable:  // only meaningful before the dialog opens
      case ViewStep::kHold:
      case ViewStep::kCancel:
        model.onCommand(ConfirmDialog::kCancelId, 0);
        break;
    }
    armNext();
  });
  if (confirmation) armNext();

  if (!window.ended()) loop.exec();
  // The quit posted by endDialog may still be pending if the dialog ended before exec; drop it
  // with the loop. Any later events of this dialog find no loop.
  model.onClosed();
  qInfo("ruzazuv-bridge: dialog %d ended with %d", layout.templateId,
        static_cast<int>(window.code()));
  return window.code();
}

void ScriptedView::messageBox(std::u16string_view text) {
  qInfo().noquote() << "ruzazuv-bridge: message box:"
                    << QString::fromStdU16String(std::u16string(text));
}

}  // namespace ruzazuv::bridge
