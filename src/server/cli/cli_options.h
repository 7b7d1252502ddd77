// Command-line options of ruzazuv-cli.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ruzazuv {

struct CliOptions {
  std::string pcsc = "system";             // "system" or "simulated:PROFILE.json"
  std::optional<std::string> siteAddress;  // the built-in bank address when not given
  std::optional<std::string> pageAddress;  // no page (a local program) when not given
  std::string ui;                          // "" (no dialogs) or "scripted:ACTIONS"
  std::string codePage = "UTF-8";
  bool help = false;
};

// Parses argv; returns an error message for bad usage.
std::optional<std::string> parseCliOptions(const std::vector<std::string>& args, CliOptions* out);
extern const char* const kCliUsage;

}  // namespace ruzazuv
