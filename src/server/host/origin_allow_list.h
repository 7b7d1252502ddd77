// The web origins a host serves: the allow-list files under the user's and the system's
// configuration directories, plus the origins given on the command line. Shared by the loopback
// bridge and the native-messaging host, so that both serve the same pages.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruzazuv {

// The environment the files are found from (XDG base directories), taken apart so that tests can
// give their own.
struct ConfigEnvironment {
  std::optional<std::string> configHome;  // XDG_CONFIG_HOME
  std::optional<std::string> home;        // HOME
  std::optional<std::string> configDirs;  // XDG_CONFIG_DIRS
};

// This process's environment.
ConfigEnvironment processConfigEnvironment();

// The allow-list files, the user's first: CONFIG_HOME/ruzazuv/allowed-origins (CONFIG_HOME
// being $XDG_CONFIG_HOME, else ~/.config), then DIR/ruzazuv/allowed-origins for each DIR in
// $XDG_CONFIG_DIRS (else /etc/xdg). Relative directories are ignored, as the base-directory
// rules require.
std::vector<std::filesystem::path> allowListFiles(const ConfigEnvironment& env);

// The origins of one file's text: one per line, "#" starts a comment, blank lines ignored. A line
// that is no origin, or is "null", is skipped with a line in `*log` naming `source` and the line
// number.
std::vector<std::string> parseAllowList(std::string_view text, std::string_view source,
                                        std::vector<std::string>* log);

// A trusted origin of a command-line value: normalised, never "null".
std::optional<std::string> givenOrigin(std::string_view text);

// The origins served: every `given` origin (each must be one: else nothing, and `*error` names
// it), then those of the files, without duplicates; when there are none at all, the origin of
// `siteAddress` if it has one. Missing files are no error; unreadable ones are logged.
std::optional<std::vector<std::string>> servedOrigins(const std::vector<std::string>& given,
                                                      std::string_view siteAddress,
                                                      const ConfigEnvironment& env,
                                                      std::vector<std::string>* log,
                                                      std::string* error);

}  // namespace ruzazuv
