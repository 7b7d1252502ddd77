// Command-line options of ruzazuv-bridge.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ruzazuv::bridge {

inline constexpr std::uint16_t kDefaultPort = 47950;

enum class Action { kServe, kRegister, kUnregister, kHelp };
// Where --register installs the service: detected, or forced to one of the two kinds.
enum class ServiceKind { kAuto, kSystemd, kAutostart };

struct BridgeOptions {
  Action action = Action::kServe;
  ServiceKind serviceKind = ServiceKind::kAuto;
  std::string pcsc = "system";             // "system" or "simulated:PROFILE.json"
  std::optional<std::string> siteAddress;  // the built-in bank address when not given
  // "" = choose (the Qt view when a display is available, else none), "none", "qt",
  // "scripted:ACTIONS".
  std::string ui;
  std::string codePage = "UTF-8";
  std::uint16_t port = kDefaultPort;
  bool portGiven = false;
  std::vector<std::string> allowOrigins;  // as given; empty = the origin of siteAddress
  std::optional<std::string> serveDemo;   // directory served over HTTP on demoPort
  std::uint16_t demoPort = 0;             // 0 = port + 1

  // The options that a registered service is started with (everything that changes how it
  // serves, nothing that selects an action).
  std::vector<std::string> serviceArguments() const;
};

// Parses argv without the program name; returns an error message for bad usage.
std::optional<std::string> parseBridgeOptions(const std::vector<std::string>& args,
                                              BridgeOptions* out);
extern const char* const kBridgeUsage;

}  // namespace ruzazuv::bridge
