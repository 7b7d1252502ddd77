#include "win32/get_message_hook.h"

#include <windows.h>

#include "ui/keyboard_block_hook.h"

namespace ruzazuv::win32 {
namespace {

LRESULT CALLBACK getMessageProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code >= 0 && lParam != 0) {
    auto* msg = reinterpret_cast<MSG*>(lParam);
    WindowMessage message{reinterpret_cast<std::uintptr_t>(msg->hwnd), msg->message,
                          static_cast<std::uintptr_t>(msg->wParam),
                          static_cast<std::intptr_t>(msg->lParam)};
    if (KeyboardBlockHook::filter(message, wParam == PM_REMOVE, code)) {
      msg->hwnd = nullptr;
      msg->message = WM_NULL;
      msg->wParam = 0;
      msg->lParam = 0;
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

GetMessageHook::GetMessageHook()
    : hook_(SetWindowsHookExW(WH_GETMESSAGE, getMessageProc, nullptr, GetCurrentThreadId())) {}

GetMessageHook::~GetMessageHook() {
  if (hook_ != nullptr) UnhookWindowsHookEx(static_cast<HHOOK>(hook_));
}

}  // namespace ruzazuv::win32
