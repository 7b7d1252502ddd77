// DialogWindow over an open Win32 dialog. Calls made on the dialog's thread act at once; calls
// from other threads (the countdown's timer thread) are queued and posted to the dialog's thread,
// which applies them in the order they were made. Once the dialog is destroyed, calls do nothing.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>
#include <optional>

#include "ui/dialog_host.h"

namespace ruzazuv::win32 {

class Win32DialogWindow final : public DialogWindow {
 public:
  // Posted to the dialog to have it apply the queued calls.
  static constexpr UINT kRunQueued = WM_APP + 0x52;

  explicit Win32DialogWindow(DWORD dialogThread) : thread_(dialogThread) {}

  // The dialog window exists (WM_INITDIALOG) / is being destroyed (WM_DESTROY).
  void attach(HWND dialog);
  void detach();
  // On the dialog's thread, for kRunQueued.
  void runQueued();
  HWND handle() const { return dialog_; }

  DialogRect controlRect(int id) override;
  void moveControl(int id, DialogRect rect) override;
  void setControlText(int id, std::u16string_view text) override;
  void enableControl(int id, bool enabled) override;
  void redraw(int id) override;
  void endDialog(std::int32_t code) override;

 private:
  // Runs `action` with the dialog's handle, at once on its thread, else through the queue.
  void apply(std::function<void(HWND)> action);

  const DWORD thread_;
  std::mutex mutex_;
  HWND dialog_ = nullptr;  // written on the dialog's thread only, read under mutex_ elsewhere
  std::deque<std::function<void(HWND)>> queue_;
};

}  // namespace ruzazuv::win32
