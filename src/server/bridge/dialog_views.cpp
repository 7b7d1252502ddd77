#include "bridge/dialog_views.h"

#include <cstdlib>

#include "bridge/scripted_actions.h"
#include "bridge/scripted_view.h"

#ifdef RUZAZUV_HAVE_QT_VIEWS
#include "views/qt_dialog_host.h"
#endif

namespace ruzazuv::bridge {

bool qtViewBuiltIn() {
#ifdef RUZAZUV_HAVE_QT_VIEWS
  return true;
#else
  return false;
#endif
}

bool displayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

std::string resolveUiChoice(const std::string& ui) {
  if (!ui.empty()) return ui;
  return qtViewBuiltIn() && displayAvailable() ? "qt" : "none";
}

std::unique_ptr<DialogHost> makeView(const std::string& ui, std::string* error) {
  if (ui == "none") return nullptr;
  if (ui.rfind("scripted:", 0) == 0) {
    auto actions = parseViewActions(std::string_view(ui).substr(9), error);
    if (!actions) return nullptr;
    return std::make_unique<ScriptedView>(std::move(*actions));
  }
  if (ui == "qt") {
#ifdef RUZAZUV_HAVE_QT_VIEWS
    return makeQtDialogHost();
#else
    *error = "this build has no Qt dialog views (--ui qt)";
    return nullptr;
#endif
  }
  *error = "--ui takes qt, none or scripted:ACTIONS";
  return nullptr;
}

}  // namespace ruzazuv::bridge
