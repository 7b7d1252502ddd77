#include "win32/win32_dialog_host.h"

#include <windowsx.h>

#include <string>
#include <utility>

#include "win32/get_message_hook.h"
#include "win32/win32_dialog_window.h"

namespace ruzazuv {
namespace {

using win32::GetMessageHook;
using win32::Win32DialogWindow;

// What the dialog procedure reaches through the dialog's user data.
struct OpenDialog {
  DialogModel& model;
  Win32DialogWindow window;
  HBRUSH background = nullptr;  // button face, for statics the model colours
  bool initialised = false;     // the model's onInit has run
};

COLORREF systemColour(SystemColour colour) {
  switch (colour) {
    case SystemColour::kButtonFace:
    default:
      return GetSysColor(COLOR_BTNFACE);
  }
}

INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* open = reinterpret_cast<OpenDialog*>(lParam);
    SetWindowLongPtrW(dialog, DWLP_USER, static_cast<LONG_PTR>(lParam));
    open->window.attach(dialog);
    open->background = CreateSolidBrush(systemColour(SystemColour::kButtonFace));
    // DS_SYSMODAL asks for a window above all others; not every system makes it so.
    if (open->model.layout().systemModal)
      SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    open->initialised = true;
    open->model.onInit(open->window);
    // FALSE: no control gets the keyboard focus.
    return open->model.layout().defaultFocus ? TRUE : FALSE;
  }
  auto* open = reinterpret_cast<OpenDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (open == nullptr) return FALSE;
  switch (message) {
    case Win32DialogWindow::kRunQueued:
      open->window.runQueued();
      return TRUE;
    case WM_MOUSEMOVE:
      // Client coordinates as signed 16-bit values.
      open->model.onMouseMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      return TRUE;
    case WM_LBUTTONDOWN:
      open->model.onLeftButtonDown(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      return TRUE;
    case WM_COMMAND:
      open->model.onCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      // The dialogs end only through their models.
      return TRUE;
    case WM_CTLCOLORSTATIC: {
      const auto colours = open->model.controlColours(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
      if (!colours) return FALSE;
      auto dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, colours->text);
      if (colours->transparentTextBackground) SetBkMode(dc, TRANSPARENT);
      HBRUSH brush = colours->background == SystemColour::kButtonFace
                         ? open->background
                         : GetSysColorBrush(COLOR_BTNFACE);
      return reinterpret_cast<INT_PTR>(brush);
    }
    case WM_DESTROY:
      open->window.detach();
      return FALSE;
    default:
      return FALSE;
  }
}

class Win32DialogHost final : public DialogHost {
 public:
  Win32DialogHost(HINSTANCE resources, std::function<HWND()> messageBoxOwner)
      : resources_(resources), messageBoxOwner_(std::move(messageBoxOwner)) {}

  std::int32_t runModal(DialogModel& model) override {
    const int templateId = model.layout().templateId;
    // The template must be there (resource type 5, RT_DIALOG); else the dialog cannot be shown.
    if (FindResourceW(resources_, MAKEINTRESOURCEW(templateId), MAKEINTRESOURCEW(5)) == nullptr)
      return -1;
    OpenDialog open{model, Win32DialogWindow(GetCurrentThreadId())};
    INT_PTR code = -1;
    {
      // Keys and close requests taken from this thread's queue pass through the model's
      // KeyboardBlockHook while the dialog runs.
      GetMessageHook hook;
      code = DialogBoxParamW(resources_, MAKEINTRESOURCEW(templateId), GetActiveWindow(),
                             dialogProc, reinterpret_cast<LPARAM>(&open));
    }
    open.window.detach();
    if (open.background != nullptr) DeleteObject(open.background);
    // A dialog that was never created never met its model.
    if (open.initialised) model.onClosed();
    return static_cast<std::int32_t>(code);
  }

  void messageBox(std::u16string_view text) override {
    const std::u16string copy(text);
    HWND owner = messageBoxOwner_ ? messageBoxOwner_() : nullptr;
    MessageBoxW(owner, reinterpret_cast<const wchar_t*>(copy.c_str()), L"", MB_OK);
  }

 private:
  HINSTANCE resources_;
  std::function<HWND()> messageBoxOwner_;
};

}  // namespace

std::unique_ptr<DialogHost> makeWin32DialogHost(HINSTANCE resources,
                                                std::function<HWND()> messageBoxOwner) {
  return std::make_unique<Win32DialogHost>(resources, std::move(messageBoxOwner));
}

}  // namespace ruzazuv
