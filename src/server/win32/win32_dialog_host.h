// The Win32 views of the dialogs: a DialogHost that runs the models of src/ui in the dialog
// templates of a module's resources (dialogs.rc), with the thread's get-message hook routed
// through KeyboardBlockHook and message boxes with an empty caption and one OK button.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "ui/dialog_host.h"

namespace ruzazuv {

// `resources` holds templates 103 and 113 (the module, or a test program). `messageBoxOwner`
// gives the window that owns message boxes (the control's window; none while it has none).
std::unique_ptr<DialogHost> makeWin32DialogHost(HINSTANCE resources,
                                                std::function<HWND()> messageBoxOwner = {});

}  // namespace ruzazuv
