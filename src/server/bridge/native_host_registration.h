// The browsers' native-messaging host manifests that --register installs for the user, so that
// the extension can start ruzazuv-nmhost: one manifest per browser family, naming only our
// extension. A manifest cannot pass arguments to the host, so when the registration carries
// serving options a small launcher script holds them and the manifests name the launcher.
// Manifests are JSON without comments: ours are recognised by the registration marker's text in
// their "description"; the launcher carries the marker as a line.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bridge/bridge_options.h"

namespace ruzazuv::bridge {

inline constexpr const char* kNativeHostLauncher = "ruzazuv-nmhost-launch";

// Chromium-family manifests list allowed origins; Firefox's list allowed extension ids.
enum class ManifestFlavour { kChromium, kFirefox };

struct HostManifestLocation {
  std::string browser;  // for the log
  ManifestFlavour flavour;
  std::filesystem::path directory;  // holds kNativeHostManifestFile
};

struct NativeHostPaths {
  // Chromium, Chrome and Edge under CONFIG; Firefox under $HOME/.mozilla (absent without HOME).
  std::vector<HostManifestLocation> manifests;
  // DATA/ruzazuv/ruzazuv-nmhost-launch, DATA being $XDG_DATA_HOME when absolute, else
  // $HOME/.local/share; absent when neither names a directory.
  std::optional<std::filesystem::path> launcher;
};

// False (with `*error`) when there is no configuration directory at all.
std::optional<NativeHostPaths> nativeHostPaths(std::string* error);

struct NativeHostCommand {
  std::filesystem::path host;          // absolute
  std::vector<std::string> arguments;  // empty: the manifests name the host itself
};

// The host beside the bridge executable, with those of the registered options that the host
// understands. Refuses an --allow-origin that is not an origin (the host would refuse to start).
std::optional<NativeHostCommand> nativeHostCommand(const BridgeOptions& options,
                                                   const std::filesystem::path& bridgeExecutable,
                                                   std::string* error);

// The texts (exposed for tests). The manifest text is absent when the path cannot be written
// in JSON (not UTF-8).
std::optional<std::string> hostManifestText(ManifestFlavour flavour,
                                            const std::filesystem::path& path);
std::string launcherText(const NativeHostCommand& command);
// One word for sh, whatever the argument holds.
std::string shellQuote(const std::string& argument);

// A regular file that parses as a JSON object whose description carries the marker.
bool isOurManifest(const std::filesystem::path& file);

// Why registration cannot go ahead (a same-named file that is not ours), or nothing.
std::optional<std::string> nativeHostFilesInTheWay(const NativeHostPaths& paths,
                                                   const NativeHostCommand& command);

// Writes every manifest (and the launcher when there are arguments, else removes ours), or
// nothing when a file is in the way. Logs each file, and warns when the host is not there yet.
bool registerNativeHost(const NativeHostPaths& paths, const NativeHostCommand& command,
                        std::string* log, std::string* error);
// Removes our manifests and launcher; logs each file removed and each same-named file left.
void unregisterNativeHost(const NativeHostPaths& paths, std::string* log);

}  // namespace ruzazuv::bridge
