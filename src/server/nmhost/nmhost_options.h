// Command-line options of ruzazuv-nmhost: the bridge's serving options that apply to a host the
// browser starts, and the browser's own arguments, which are kept for the log.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bridge/bridge_options.h"

namespace ruzazuv::nmhost {

struct NativeHostOptions {
  bridge::BridgeOptions serving;  // --pcsc, --site-address, --ui, --code-page, --allow-origin
  bool help = false;
  // What the browser passes: the caller's origin (Chromium-family browsers), the manifest's path
  // and the extension's id (Firefox), a parent window (Chromium on Windows).
  std::vector<std::string> browserArguments;
};

// Parses argv without the program name; an error message for bad usage.
std::optional<std::string> parseNativeHostOptions(const std::vector<std::string>& args,
                                                  NativeHostOptions* out);
extern const char* const kNativeHostUsage;

}  // namespace ruzazuv::nmhost
