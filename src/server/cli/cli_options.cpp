#include "cli/cli_options.h"

namespace ruzazuv {

const char* const kCliUsage =
    "usage: ruzazuv-cli [--pcsc system|simulated:PROFILE.json] [--site-address TEXT]\n"
    "                   [--page-address URL] [--ui scripted:ACTIONS] [--code-page NAME]\n"
    "       ruzazuv-cli doctor [--json] [--port N]   (see ruzazuv-cli doctor --help)\n"
    "Reads JSON-RPC 2.0 requests, one per line, from standard input and writes one answer\n"
    "line per request that has an id. Methods: get, put, call, describe.\n";

std::optional<std::string> parseCliOptions(const std::vector<std::string>& args, CliOptions* out) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      out->help = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> value;
    if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    const bool known = name == "--pcsc" || name == "--site-address" || name == "--page-address" ||
                       name == "--ui" || name == "--code-page";
    if (!known) return "unknown option: " + arg;
    if (!value) {
      if (i + 1 >= args.size()) return "option " + name + " needs a value";
      value = args[++i];
    }
    if (name == "--pcsc") {
      if (*value != "system" && value->rfind("simulated:", 0) != 0)
        return "--pcsc takes system or simulated:PROFILE.json";
      out->pcsc = *value;
    } else if (name == "--site-address") {
      out->siteAddress = *value;
    } else if (name == "--page-address") {
      out->pageAddress = *value;
    } else if (name == "--ui") {
      if (*value != "none" && value->rfind("scripted:", 0) != 0)
        return "--ui takes scripted:ACTIONS";
      out->ui = *value == "none" ? "" : *value;
    } else {
      out->codePage = *value;
    }
  }
  return std::nullopt;
}

}  // namespace ruzazuv
