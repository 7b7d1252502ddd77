// "Registration" on Linux: a per-user service that starts the bridge on demand. With systemd, a
// user socket unit listening on the bridge's port and the service it activates; without it, an
// XDG autostart entry that starts the bridge at login. Registering again replaces our files
// (and drops the other kind's), unregistering removes our files and nothing else: every file
// we write carries kRegistrationMarker, and files without it are never touched.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bridge/bridge_options.h"
#include "bridge/registered_files.h"

namespace ruzazuv::bridge {

inline constexpr const char* kSocketUnit = "ruzazuv-bridge.socket";
inline constexpr const char* kServiceUnit = "ruzazuv-bridge.service";
inline constexpr const char* kAutostartEntry = "ruzazuv-bridge.desktop";

struct RegistrationPaths {
  std::filesystem::path systemdUserDir;  // CONFIG/systemd/user
  std::filesystem::path autostartDir;    // CONFIG/autostart
};

// CONFIG: $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config.
std::optional<std::filesystem::path> userConfigHome(std::string* error);
std::optional<RegistrationPaths> registrationPaths(std::string* error);

struct ServiceCommand {
  std::filesystem::path executable;  // absolute
  std::vector<std::string> arguments;
  std::uint16_t port = kDefaultPort;
};

// The unit and entry texts (exposed for tests).
std::string socketUnitText(std::uint16_t port);
std::string serviceUnitText(const ServiceCommand& command);
std::string autostartEntryText(const ServiceCommand& command);

// Whether the files go to systemd: asked for, or (kAuto) systemd runs this session.
bool useSystemd(ServiceKind kind);
// Whether a systemd user manager can be told about changes (systemctl --user would reach it).
bool systemdUserManagerReachable();

// Each writes the lines it reports into `*log`. False with `*error` set when a file of the same
// name that is not ours is in the way, or a file cannot be written.
bool registerService(const RegistrationPaths& paths, bool systemd, const ServiceCommand& command,
                     bool tellManager, std::string* log, std::string* error);
bool unregisterService(const RegistrationPaths& paths, bool tellManager, std::string* log,
                       std::string* error);

// Quoting for an ExecStart= line and for a desktop entry's Exec= key.
std::string systemdQuote(const std::string& argument);
std::string desktopQuote(const std::string& argument);

}  // namespace ruzazuv::bridge
