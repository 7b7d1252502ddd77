// The doctor's look at how the bridge and the browsers are set up: the origins the bridge
// serves, the native-messaging manifests of the browser extension's host, and the browsers'
// local-network-access prompt for the loopback bridge.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/doctor_report.h"

namespace ruzazuv::doctor {

// The "origins" finding: the allow-list files and the registered service's --allow-origin and
// --site-address arguments (the user's unit or autostart entry, else the system's unit).
Finding checkOrigins();

// The "manifest" findings (one per installed browser) and the "local-network" finding.
struct BrowserFindings {
  std::vector<Finding> manifests;
  Finding localNetwork;
  bool extensionHostInstalled = false;  // a usable manifest for some installed browser
};
BrowserFindings checkBrowsers();

// The pure steps, exposed for tests.

// The arguments of the service's command line, from a systemd unit's ExecStart= or a desktop
// entry's Exec= line, unquoted as systemd and the desktop-entry rules read them. The program
// itself is the first. Nothing when there is no such line.
std::optional<std::vector<std::string>> serviceCommandLine(std::string_view fileText,
                                                           bool desktopEntry);

// The values of `option` ("--allow-origin") in `args`, given as "OPTION VALUE" or "OPTION=VALUE".
std::vector<std::string> optionValues(const std::vector<std::string>& args,
                                      std::string_view option);

// What is wrong with a native-messaging manifest's text for our host, or nothing; `*hostPath`
// receives the executable it names. Firefox manifests list extension ids, the others origins.
std::optional<std::string> manifestProblem(std::string_view text, bool firefox,
                                           std::filesystem::path* hostPath);

}  // namespace ruzazuv::doctor
