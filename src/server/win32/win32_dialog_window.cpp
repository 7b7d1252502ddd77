#include "win32/win32_dialog_window.h"

#include <string>
#include <utility>

namespace ruzazuv::win32 {

void Win32DialogWindow::attach(HWND dialog) {
  std::lock_guard lock(mutex_);
  dialog_ = dialog;
}

void Win32DialogWindow::detach() {
  std::lock_guard lock(mutex_);
  dialog_ = nullptr;
  queue_.clear();
}

void Win32DialogWindow::runQueued() {
  for (;;) {
    std::function<void(HWND)> action;
    HWND dialog = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty() || dialog_ == nullptr) return;
      action = std::move(queue_.front());
      queue_.pop_front();
      dialog = dialog_;
    }
    action(dialog);
  }
}

void Win32DialogWindow::apply(std::function<void(HWND)> action) {
  if (GetCurrentThreadId() == thread_) {
    // Calls queued by other threads were made first.
    runQueued();
    HWND dialog = nullptr;
    {
      std::lock_guard lock(mutex_);
      dialog = dialog_;
    }
    if (dialog != nullptr) action(dialog);
    return;
  }
  std::lock_guard lock(mutex_);
  if (dialog_ == nullptr) return;
  queue_.push_back(std::move(action));
  // One wake-up per call; a wake-up that finds the queue empty does nothing.
  PostMessageW(dialog_, kRunQueued, 0, 0);
}

DialogRect Win32DialogWindow::controlRect(int id) {
  HWND dialog = nullptr;
  {
    std::lock_guard lock(mutex_);
    dialog = dialog_;
  }
  HWND item = dialog != nullptr ? GetDlgItem(dialog, id) : nullptr;
  RECT r{};
  if (item == nullptr || !GetWindowRect(item, &r)) return {};
  // Screen to the dialog's client coordinates.
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

void Win32DialogWindow::moveControl(int id, DialogRect rect) {
  apply([id, rect](HWND dialog) {
    if (HWND item = GetDlgItem(dialog, id))
      MoveWindow(item, rect.x, rect.y, rect.width, rect.height, TRUE);
  });
}

void Win32DialogWindow::setControlText(int id, std::u16string_view text) {
  apply([id, copy = std::u16string(text)](HWND dialog) {
    SetDlgItemTextW(dialog, id, reinterpret_cast<const wchar_t*>(copy.c_str()));
  });
}

void Win32DialogWindow::enableControl(int id, bool enabled) {
  apply([id, enabled](HWND dialog) {
    if (HWND item = GetDlgItem(dialog, id)) EnableWindow(item, enabled ? TRUE : FALSE);
  });
}

void Win32DialogWindow::redraw(int id) {
  apply([id](HWND dialog) {
    HWND target = id == kWholeDialog ? dialog : GetDlgItem(dialog, id);
    if (target != nullptr)
      RedrawWindow(target, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  });
}

void Win32DialogWindow::endDialog(std::int32_t code) {
  apply([code](HWND dialog) { EndDialog(dialog, code); });
}

}  // namespace ruzazuv::win32
