#include "bridge/registration.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <system_error>

extern char** environ;

namespace ruzazuv::bridge {
namespace fs = std::filesystem;

namespace {

constexpr const char* kSocketsWants = "sockets.target.wants";

// The enablement link of our socket unit, only when it points at our unit.
void removeOurLink(const RegistrationPaths& paths, std::string* log) {
  const fs::path link = paths.systemdUserDir / kSocketsWants / kSocketUnit;
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(link, ec))) return;
  const fs::path target = fs::read_symlink(link, ec);
  if (ec || target.filename() != kSocketUnit) return;
  const fs::path resolved = target.is_absolute() ? target : link.parent_path() / target;
  if (fs::weakly_canonical(resolved, ec) !=
      fs::weakly_canonical(paths.systemdUserDir / kSocketUnit, ec))
    return;
  if (fs::remove(link, ec)) *log += "removed " + link.string() + "\n";
  fs::remove(paths.systemdUserDir / kSocketsWants, ec);  // only if now empty
}

void systemctl(const std::vector<std::string>& args, std::string* log) {
  std::vector<std::string> argv{"systemctl", "--user"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> raw;
  for (std::string& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);
  pid_t pid = 0;
  std::string line;
  for (const std::string& a : argv) line += (line.empty() ? "" : " ") + a;
  if (posix_spawnp(&pid, "systemctl", nullptr, nullptr, raw.data(), environ) != 0) {
    *log += "could not run: " + line + "\n";
    return;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  *log += line + (WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "\n" : " (failed)\n");
}

std::string commandLine(const ServiceCommand& command, std::string (*quote)(const std::string&)) {
  std::string line = quote(command.executable.string());
  for (const std::string& a : command.arguments) line += " " + quote(a);
  return line;
}

}  // namespace

std::optional<fs::path> userConfigHome(std::string* error) {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
    return fs::path(xdg);
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
    return fs::path(home) / ".config";
  *error = "neither XDG_CONFIG_HOME nor HOME names a directory";
  return std::nullopt;
}

std::optional<RegistrationPaths> registrationPaths(std::string* error) {
  const auto config = userConfigHome(error);
  if (!config) return std::nullopt;
  return RegistrationPaths{*config / "systemd" / "user", *config / "autostart"};
}

std::string systemdQuote(const std::string& argument) {
  // Inside double quotes systemd takes C-style escapes; % and $ introduce specifiers and
  // variables and are doubled.
  std::string out = "\"";
  for (char c : argument) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '%':
        out += "%%";
        break;
      case '$':
        out += "$$";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

std::string desktopQuote(const std::string& argument) {
  // Exec= quoting: double quotes, with " ` $ \ escaped by a backslash; field codes start with %.
  // The key's value is itself a string with escapes, so each backslash is written twice.
  std::string out = "\"";
  for (char c : argument) {
    switch (c) {
      case '"':
        out += "\\\\\"";
        break;
      case '`':
        out += "\\\\`";
        break;
      case '$':
        out += "\\\\$";
        break;
      case '\\':
        out += "\\\\\\\\";
        break;
      case '%':
        out += "%%";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

std::string socketUnitText(std::uint16_t port) {
  std::ostringstream out;
  out << kRegistrationMarker << "\n"
      << "[Unit]\n"
      << "Description=RuzaZUV card bridge socket\n\n"
      << "[Socket]\n"
      << "ListenStream=127.0.0.1:" << port << "\n"
      << "NoDelay=true\n\n"
      << "[Install]\n"
      << "WantedBy=sockets.target\n";
  return out.str();
}

std::string serviceUnitText(const ServiceCommand& command) {
  std::ostringstream out;
  out << kRegistrationMarker << "\n"
      << "[Unit]\n"
      << "Description=RuzaZUV card bridge\n"
      << "Requires=" << kSocketUnit << "\n"
      << "After=" << kSocketUnit << "\n\n"
      << "[Service]\n"
      << "Type=simple\n"
      << "ExecStart=" << commandLine(command, systemdQuote) << "\n"
      << "Restart=on-failure\n";
  return out.str();
}

std::string autostartEntryText(const ServiceCommand& command) {
  std::ostringstream out;
  out << kRegistrationMarker << "\n"
      << "[Desktop Entry]\n"
      << "Type=Application\n"
      << "Name=RuzaZUV card bridge\n"
      << "Comment=Lets the bank's web pages use the smart-card reader\n"
      << "Exec=" << commandLine(command, desktopQuote) << "\n"
      << "Terminal=false\n"
      << "NoDisplay=true\n"
      << "X-GNOME-Autostart-enabled=true\n";
  return out.str();
}

bool systemdUserManagerReachable() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || runtime[0] != '/') return false;
  std::error_code ec;
  return fs::exists(fs::path(runtime) / "systemd" / "private", ec);
}

bool useSystemd(ServiceKind kind) {
  if (kind != ServiceKind::kAuto) return kind == ServiceKind::kSystemd;
  std::error_code ec;
  return fs::is_directory("/run/systemd/system", ec) || systemdUserManagerReachable();
}

bool registerService(const RegistrationPaths& paths, bool systemd, const ServiceCommand& command,
                     bool tellManager, std::string* log, std::string* error) {
  const fs::path socket = paths.systemdUserDir / kSocketUnit;
  const fs::path service = paths.systemdUserDir / kServiceUnit;
  const fs::path entry = paths.autostartDir / kAutostartEntry;
  for (const fs::path& file : systemd ? std::vector{socket, service} : std::vector{entry}) {
    if (inTheWay(file)) {
      *error = file.string() + " exists and was not installed by ruzazuv-bridge; left alone";
      return false;
    }
  }
  if (systemd) {
    if (!writeRegisteredFile(socket, socketUnitText(command.port), log, error) ||
        !writeRegisteredFile(service, serviceUnitText(command), log, error))
      return false;
    // What `systemctl --user enable` does for the socket's WantedBy=.
    const fs::path wants = paths.systemdUserDir / kSocketsWants;
    const fs::path link = wants / kSocketUnit;
    std::error_code ec;
    fs::create_directories(wants, ec);
    if (!fs::is_symlink(fs::symlink_status(link, ec))) {
      if (fs::exists(fs::symlink_status(link, ec))) {
        *error = link.string() + " exists and is no link; left alone";
        return false;
      }
      fs::create_symlink(fs::path("..") / kSocketUnit, link, ec);
      if (ec) {
        *error = "cannot link " + link.string() + ": " + ec.message();
        return false;
      }
      *log += "linked " + link.string() + "\n";
    }
    removeIfOurs(entry, log);
    if (tellManager) {
      systemctl({"daemon-reload"}, log);
      // A running bridge keeps its old command line and port until it is stopped.
      systemctl({"stop", kServiceUnit}, log);
      systemctl({"restart", kSocketUnit}, log);
    }
  } else {
    if (!writeRegisteredFile(entry, autostartEntryText(command), log, error)) return false;
    const bool hadUnits = carriesMarkerLine(socket) || carriesMarkerLine(service);
    if (hadUnits && tellManager) systemctl({"stop", kSocketUnit, kServiceUnit}, log);
    removeOurLink(paths, log);
    removeIfOurs(socket, log);
    removeIfOurs(service, log);
    if (hadUnits && tellManager) systemctl({"daemon-reload"}, log);
  }
  return true;
}

bool unregisterService(const RegistrationPaths& paths, bool tellManager, std::string* log,
                       std::string*) {
  const fs::path socket = paths.systemdUserDir / kSocketUnit;
  const fs::path service = paths.systemdUserDir / kServiceUnit;
  const bool hadUnits = carriesMarkerLine(socket) || carriesMarkerLine(service);
  if (hadUnits && tellManager) systemctl({"stop", kSocketUnit, kServiceUnit}, log);
  removeOurLink(paths, log);
  removeIfOurs(socket, log);
  removeIfOurs(service, log);
  removeIfOurs(paths.autostartDir / kAutostartEntry, log);
  if (hadUnits && tellManager) systemctl({"daemon-reload"}, log);
  if (log->empty()) *log = "nothing of ruzazuv-bridge was registered\n";
  return true;
}

}  // namespace ruzazuv::bridge
