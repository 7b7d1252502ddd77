// The view that draws the dialogs, chosen by --ui:
//   none              no dialogs (the control's "cannot be shown" paths)
//   scripted:ACTIONS  ScriptedView (bridge/scripted_view.h)
//   qt                the Qt Widgets views, when this build has them
//   (not given)       qt when this build has it and a display is available, else none
//
// The seam for the Qt Widgets views: a static library target `ruzazuv_qt_views`, defined before
// this directory is added (src/server/CMakeLists.txt: add_subdirectory(views) ahead of
// add_subdirectory(bridge)), whose public include path offers "views/qt_dialog_host.h" with
//
//   namespace ruzazuv { std::unique_ptr<DialogHost> makeQtDialogHost(); }
//
// The bridge creates a QApplication before calling it and runs the dialogs on the main thread.
// The bridge wraps the view in PageDialogs, which may end a confirmation dialog (Cancel) from
// inside DialogModel::onInit or while the view's modal loop runs: the view must honour an
// endDialog that comes before its loop starts.
#pragma once

#include <memory>
#include <string>

#include "ui/dialog_host.h"

namespace ruzazuv::bridge {

bool qtViewBuiltIn();
// Whether a Qt view could open windows here (a display, or a chosen QPA platform).
bool displayAvailable();
// The --ui value once "not given" is decided.
std::string resolveUiChoice(const std::string& ui);
// Null for "none"; null with `*error` set when the choice cannot be made.
std::unique_ptr<DialogHost> makeView(const std::string& ui, std::string* error);

}  // namespace ruzazuv::bridge
