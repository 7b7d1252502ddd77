#include "nmhost/nmhost_options.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace ruzazuv::nmhost {

const char* const kNativeHostUsage =
    "usage: ruzazuv-nmhost [--pcsc system|simulated:PROFILE.json] [--site-address TEXT]\n"
    "                      [--ui qt|none|scripted:ACTIONS] [--code-page NAME]\n"
    "                      [--allow-origin ORIGIN]... [BROWSER ARGUMENTS]\n"
    "       ruzazuv-nmhost --register [those options]   install the browsers' host manifests\n"
    "       ruzazuv-nmhost --unregister                 remove them\n"
    "The browser's native-messaging host for the RuzaZUV extension: JSON-RPC 2.0 requests of\n"
    "the pages of the allowed origins, in length-prefixed JSON frames on standard input, answered\n"
    "on standard output. Started by the browser; the arguments it adds are accepted and logged.\n";

namespace {

constexpr std::array<std::string_view, 5> kValueOptions = {"--pcsc", "--site-address", "--ui",
                                                           "--code-page", "--allow-origin"};

bool takesValue(std::string_view name) {
  return std::find(kValueOptions.begin(), kValueOptions.end(), name) != kValueOptions.end();
}

}  // namespace

std::optional<std::string> parseNativeHostOptions(const std::vector<std::string>& args,
                                                  NativeHostOptions* out) {
  std::vector<std::string> serving;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      out->help = true;
      continue;
    }
    // Chromium on Windows names the calling window; it means nothing to this host.
    if (arg.rfind("--parent-window=", 0) == 0 || arg.rfind("--", 0) != 0) {
      out->browserArguments.push_back(arg);
      continue;
    }
    // Only the manifests (and the launcher holding the options), not the bridge's service.
    if (arg == "--register" || arg == "--unregister") {
      serving.push_back(arg);
      continue;
    }
    const std::string name = arg.substr(0, arg.find('='));
    if (!takesValue(name)) return "unknown option: " + arg;
    serving.push_back(arg);
    if (name == arg) {
      if (i + 1 >= args.size()) return "option " + name + " needs a value";
      serving.push_back(args[++i]);
    }
  }
  return bridge::parseBridgeOptions(serving, &out->serving);
}

}  // namespace ruzazuv::nmhost
