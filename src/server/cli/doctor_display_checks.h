// The doctor's look at what the bridge's dialogs need: a graphical session, the Qt platform
// plugin for it, and a font with Chinese characters. Qt itself is not loaded: the plugin is
// looked for where Qt finds it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "cli/doctor_report.h"

namespace ruzazuv::doctor {

// The "display" and "font" findings.
std::vector<Finding> checkDisplay();

// The directories searched for platform plugins, in order: QT_QPA_PLATFORM_PLUGIN_PATH, each
// QT_PLUGIN_PATH entry's "platforms", then the Qt 6 directories of Debian's multiarch layout.
std::vector<std::filesystem::path> platformPluginDirs();

}  // namespace ruzazuv::doctor
