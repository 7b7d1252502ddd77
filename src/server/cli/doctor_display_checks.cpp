#include "cli/doctor_display_checks.h"

#include <sstream>

#include "cli/doctor_system.h"

namespace ruzazuv::doctor {
namespace {

namespace fs = std::filesystem;

struct Platform {
  std::string name;                  // as QT_QPA_PLATFORM names it
  std::vector<std::string> plugins;  // any of these files serves it
  std::string package;               // the Debian package that ships it
};

std::optional<fs::path> findPlugin(const Platform& platform) {
  std::error_code ec;
  for (const fs::path& dir : platformPluginDirs())
    for (const std::string& file : platform.plugins)
      if (fs::is_regular_file(dir / file, ec)) return dir / file;
  return std::nullopt;
}

// The first Chinese font fontconfig knows, or one of the usual files.
std::optional<std::string> chineseFont() {
  if (auto run = runProgram({"fc-list", ":lang=zh", "family"}, std::chrono::seconds(10));
      run && run->status == 0) {
    std::string first = run->output.substr(0, run->output.find('\n'));
    if (auto comma = first.find(','); comma != std::string::npos) first.resize(comma);
    if (!first.empty()) return first;
  }
  std::error_code ec;
  for (const char* file : {"/usr/share/fonts/truetype/wqy/wqy-microhei.ttc",
                           "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc",
                           "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
                           "/usr/share/fonts/truetype/arphic/uming.ttc"})
    if (fs::is_regular_file(file, ec)) return std::string(file);
  return std::nullopt;
}

}  // namespace

std::vector<fs::path> platformPluginDirs() {
  std::vector<fs::path> dirs;
  if (auto exact = environment("QT_QPA_PLATFORM_PLUGIN_PATH")) dirs.emplace_back(*exact);
  if (auto paths = environment("QT_PLUGIN_PATH")) {
    std::istringstream list(*paths);
    std::string dir;
    while (std::getline(list, dir, ':'))
      if (!dir.empty()) dirs.push_back(fs::path(dir) / "platforms");
  }
  for (const char* triplet : {"x86_64-linux-gnu", "aarch64-linux-gnu", "arm-linux-gnueabihf",
                              "i386-linux-gnu", "riscv64-linux-gnu"})
    dirs.push_back(fs::path("/usr/lib") / triplet / "qt6/plugins/platforms");
  dirs.emplace_back("/usr/lib/qt6/plugins/platforms");
  return dirs;
}

std::vector<Finding> checkDisplay() {
  std::vector<Finding> findings;
  const auto wayland = environment("WAYLAND_DISPLAY");
  const auto x11 = environment("DISPLAY");
  std::vector<std::pair<std::string, Platform>> sessions;
  if (wayland)
    sessions.push_back(
        {"Wayland display " + *wayland,
         {"wayland", {"libqwayland-generic.so", "libqwayland-egl.so"}, "qt6-wayland"}});
  if (x11) sessions.push_back({"X display " + *x11, {"xcb", {"libqxcb.so"}, "libqt6gui6"}});

  if (sessions.empty()) {
    findings.push_back(
        {"display", Verdict::kFail,
         "no graphical session (DISPLAY and WAYLAND_DISPLAY are not set): the bridge cannot show "
         "its confirmation dialogs",
         "run the doctor, and the bridge, from your desktop session", exit_code::kNoDialogs, ""});
  } else {
    std::string missing;
    std::optional<Finding> ok;
    for (const auto& [session, platform] : sessions) {
      if (auto plugin = findPlugin(platform)) {
        if (!ok)
          ok = Finding{
              "display", Verdict::kOk, session + ", Qt platform plugin " + plugin->string(), "", 0,
              ""};
      } else if (missing.empty()) {
        missing = platform.package;
      }
    }
    if (ok) {
      findings.push_back(*ok);
    } else {
      findings.push_back({"display", Verdict::kFail,
                          sessions.front().first +
                              ", but no Qt platform plugin for it: the dialogs cannot be shown",
                          "install it: sudo apt install " + missing, exit_code::kNoDialogs, ""});
    }
  }

  if (auto font = chineseFont())
    findings.push_back({"font", Verdict::kOk, "Chinese text is shown with " + *font, "", 0, ""});
  else
    findings.push_back({"font", Verdict::kWarn,
                        "no font with Chinese characters: the dialogs' text shows as boxes",
                        "install one: sudo apt install fonts-wqy-microhei", 0, ""});
  return findings;
}

}  // namespace ruzazuv::doctor
