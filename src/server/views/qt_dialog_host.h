// The Qt Widgets views of the dialogs: each DialogModel becomes a QDialog laid out in pixels from
// its DialogLayout, with the user's mouse actions fed back to the model, keyboard input and close
// requests of the whole process swallowed while KeyboardBlockHook is installed, and message
// boxes as QMessageBox with an empty title and one OK button.
//
// A QApplication must exist before the host is made, and dialogs run on its thread (runModal
// from any other thread answers -1, "cannot be created"). DialogWindow calls of a model whose
// layout allows any thread are queued onto the dialog's thread and applied there in call order.
//
// With RUZAZUV_VIEW_DEBUG set in the environment, the view logs each button's position in
// client and in screen pixels whenever a dialog opens or a button moves, so that a test can
// click a real button with an input tool.
#pragma once

#include <memory>

#include "ui/dialog_host.h"

namespace ruzazuv {

std::unique_ptr<DialogHost> makeQtDialogHost();

}  // namespace ruzazuv
