#include "bridge/native_host_registration.h"

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string_view>
#include <system_error>

#include "bridge/http_head.h"
#include "bridge/registered_files.h"
#include "bridge/registration.h"
#include "control/card_control.h"
#include "host/native_host_names.h"
#include "platform/text_codec.h"

namespace ruzazuv::bridge {
namespace fs = std::filesystem;

namespace {

// The marker without its comment sign, as it stands in a manifest's description.
constexpr std::string_view kManifestMark = std::string_view(kRegistrationMarker).substr(2);
// A manifest is a few hundred bytes; anything far larger is not one of ours.
constexpr std::streamsize kLargestManifest = 64 * 1024;

std::optional<fs::path> absoluteFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return std::nullopt;
  return fs::path(value);
}

// Our directories go again when we leave them empty; a link to a directory is never removed.
void removeIfEmptyDirectory(const fs::path& directory) {
  std::error_code ec;
  if (!fs::is_directory(fs::symlink_status(directory, ec))) return;
  if (fs::is_empty(directory, ec) && !ec) fs::remove(directory, ec);
}

std::string notOurs(const fs::path& file) {
  return file.string() + " exists and was not installed by ruzazuv-bridge; left alone";
}

// The origins the launcher passes on: those given, and with the demo page the demo's origin
// beside them (with the site address's origin, which the given ones would otherwise replace).
std::optional<std::vector<std::string>> hostOrigins(const BridgeOptions& options,
                                                    std::string* error) {
  std::vector<std::string> origins;
  for (const std::string& given : options.allowOrigins) {
    const auto origin = normaliseOrigin(given);
    if (!origin || *origin == "null") {
      *error = "--allow-origin: not an origin: " + given;
      return std::nullopt;
    }
    origins.push_back(*origin);
  }
  if (!options.serveDemo) return origins;
  std::uint16_t demoPort = options.demoPort;
  if (demoPort == 0 && options.port != 65535)
    demoPort = static_cast<std::uint16_t>(options.port + 1);
  if (demoPort == 0) {
    *error = "--serve-demo with --port 65535 needs a --demo-port";
    return std::nullopt;
  }
  if (origins.empty()) {
    const std::string site =
        options.siteAddress ? *options.siteAddress : utf16ToUtf8(kDefaultSiteAddress);
    if (const auto origin = normaliseOrigin(site)) origins.push_back(*origin);
  }
  const std::string demo = "http://127.0.0.1:" + std::to_string(demoPort);
  if (std::find(origins.begin(), origins.end(), demo) == origins.end()) origins.push_back(demo);
  return origins;
}

}  // namespace

std::optional<NativeHostPaths> nativeHostPaths(std::string* error) {
  const auto config = userConfigHome(error);
  if (!config) return std::nullopt;
  const fs::path hosts = "NativeMessagingHosts";
  NativeHostPaths paths;
  paths.manifests = {
      {"Chromium", ManifestFlavour::kChromium, *config / "chromium" / hosts},
      {"Chrome", ManifestFlavour::kChromium, *config / "google-chrome" / hosts},
      {"Edge", ManifestFlavour::kChromium, *config / "microsoft-edge" / hosts},
  };
  const auto home = absoluteFromEnvironment("HOME");
  if (home)
    paths.manifests.push_back(
        {"Firefox", ManifestFlavour::kFirefox, *home / ".mozilla" / "native-messaging-hosts"});
  if (const auto data = absoluteFromEnvironment("XDG_DATA_HOME"))
    paths.launcher = *data / "ruzazuv" / kNativeHostLauncher;
  else if (home)
    paths.launcher = *home / ".local" / "share" / "ruzazuv" / kNativeHostLauncher;
  return paths;
}

std::optional<NativeHostCommand> nativeHostCommand(const BridgeOptions& options,
                                                   const fs::path& bridgeExecutable,
                                                   std::string* error) {
  NativeHostCommand command{bridgeExecutable.parent_path() / kNativeHostExecutable, {}};
  auto& argv = command.arguments;
  if (options.pcsc != "system") argv.insert(argv.end(), {"--pcsc", options.pcsc});
  if (options.siteAddress) argv.insert(argv.end(), {"--site-address", *options.siteAddress});
  if (!options.ui.empty()) argv.insert(argv.end(), {"--ui", options.ui});
  if (options.codePage != "UTF-8") argv.insert(argv.end(), {"--code-page", options.codePage});
  const auto origins = hostOrigins(options, error);
  if (!origins) return std::nullopt;
  for (const std::string& origin : *origins) argv.insert(argv.end(), {"--allow-origin", origin});
  return command;
}

std::optional<std::string> hostManifestText(ManifestFlavour flavour, const fs::path& path) {
  nlohmann::ordered_json manifest = {
      {"name", kNativeHostName},
      {"description", "RuzaZUV card control for bank pages. " + std::string(kManifestMark)},
      {"path", path.string()},
      {"type", "stdio"},
  };
  if (flavour == ManifestFlavour::kChromium)
    manifest["allowed_origins"] = {kExtensionOrigin};
  else
    manifest["allowed_extensions"] = {kFirefoxExtensionId};
  try {
    return manifest.dump(2) + "\n";
  } catch (const nlohmann::json::type_error&) {
    return std::nullopt;  // a path that is not UTF-8 has no JSON string
  }
}

std::string shellQuote(const std::string& argument) {
  // Inside single quotes sh takes every byte as it is; a quote ends them, is escaped, and they
  // start again.
  std::string out = "'";
  for (char c : argument) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string launcherText(const NativeHostCommand& command) {
  std::string line = "exec " + shellQuote(command.host.string());
  for (const std::string& a : command.arguments) line += " " + shellQuote(a);
  return std::string("#!/bin/sh\n") + kRegistrationMarker +
         "\n# Starts the browser's native-messaging host with the options it was registered "
         "with,\n# followed by the arguments the browser gives.\n" +
         line + " \"$@\"\n";
}

bool isOurManifest(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string text(static_cast<std::size_t>(kLargestManifest) + 1, '\0');
  in.read(text.data(), kLargestManifest + 1);
  if (in.gcount() > kLargestManifest) return false;
  text.resize(static_cast<std::size_t>(in.gcount()));
  const nlohmann::json manifest = nlohmann::json::parse(text, nullptr, false);
  if (!manifest.is_object()) return false;
  const auto description = manifest.find("description");
  return description != manifest.end() && description->is_string() &&
         description->get_ref<const std::string&>().find(kManifestMark) != std::string::npos;
}

std::optional<std::string> nativeHostFilesInTheWay(const NativeHostPaths& paths,
                                                   const NativeHostCommand& command) {
  for (const HostManifestLocation& location : paths.manifests) {
    const fs::path file = location.directory / kNativeHostManifestFile;
    if (inTheWay(file, isOurManifest)) return notOurs(file);
  }
  if (command.arguments.empty()) return std::nullopt;
  if (!paths.launcher)
    return "the host's options need a launcher, and neither XDG_DATA_HOME nor HOME names a "
           "directory for it";
  if (inTheWay(*paths.launcher)) return notOurs(*paths.launcher);
  return std::nullopt;
}

bool registerNativeHost(const NativeHostPaths& paths, const NativeHostCommand& command,
                        std::string* log, std::string* error) {
  if (auto blocked = nativeHostFilesInTheWay(paths, command)) {
    *error = *blocked;
    return false;
  }
  const bool launched = !command.arguments.empty();
  const fs::path target = launched ? *paths.launcher : command.host;
  const auto chromium = hostManifestText(ManifestFlavour::kChromium, target);
  const auto firefox = hostManifestText(ManifestFlavour::kFirefox, target);
  if (!chromium || !firefox) {
    *error = "cannot name " + target.string() + " in a host manifest: the path is not UTF-8";
    return false;
  }
  if (launched) {
    using fs::perms;
    const perms executable = perms::owner_all | perms::group_read | perms::group_exec |
                             perms::others_read | perms::others_exec;
    if (!writeRegisteredFile(target, launcherText(command), log, error, executable)) return false;
  } else if (paths.launcher && removeIfOurs(*paths.launcher, log)) {
    removeIfEmptyDirectory(paths.launcher->parent_path());
  }
  for (const HostManifestLocation& location : paths.manifests) {
    const std::string& text = location.flavour == ManifestFlavour::kChromium ? *chromium : *firefox;
    if (!writeRegisteredFile(location.directory / kNativeHostManifestFile, text, log, error))
      return false;
  }
  std::error_code ec;
  if (!fs::exists(command.host, ec))
    *log += "warning: " + command.host.string() +
            " does not exist (yet); browsers cannot start the host until it is there\n";
  return true;
}

void unregisterNativeHost(const NativeHostPaths& paths, std::string* log) {
  std::error_code ec;
  for (const HostManifestLocation& location : paths.manifests) {
    const fs::path file = location.directory / kNativeHostManifestFile;
    if (removeIfOurs(file, log, isOurManifest)) {
      removeIfEmptyDirectory(location.directory);
      removeIfEmptyDirectory(location.directory.parent_path());
    } else if (fs::exists(fs::symlink_status(file, ec))) {
      *log += notOurs(file) + "\n";
    }
  }
  if (!paths.launcher) return;
  if (removeIfOurs(*paths.launcher, log))
    removeIfEmptyDirectory(paths.launcher->parent_path());
  else if (fs::exists(fs::symlink_status(*paths.launcher, ec)))
    *log += notOurs(*paths.launcher) + "\n";
}

}  // namespace ruzazuv::bridge
