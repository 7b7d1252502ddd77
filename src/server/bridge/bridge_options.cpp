#include "bridge/bridge_options.h"

#include <charconv>

namespace ruzazuv::bridge {

const char* const kBridgeUsage =
    "usage: ruzazuv-bridge [--pcsc system|simulated:PROFILE.json] [--site-address TEXT]\n"
    "                      [--ui qt|none|scripted:ACTIONS] [--code-page NAME] [--port N]\n"
    "                      [--allow-origin ORIGIN]... [--serve-demo DIR [--demo-port N]]\n"
    "       ruzazuv-bridge --register[=systemd|autostart] [serving options]\n"
    "       ruzazuv-bridge --unregister\n"
    "Serves JSON-RPC 2.0 over WebSocket on ws://127.0.0.1:PORT/ (default 47950) to the pages of\n"
    "the allowed origins (default: the origin of the site address). Methods: get, put, call,\n"
    "describe. --register installs a per-user service that starts the bridge on demand, and\n"
    "the browsers' native-messaging host manifests (with --serve-demo, the host also serves the\n"
    "demo page's origin).\n";

namespace {

// 0 asks for any free port (the bridge reports the one it got).
std::optional<std::string> parsePort(const std::string& text, std::uint16_t* port) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value > 65535)
    return "a port is a number from 0 to 65535: " + text;
  *port = static_cast<std::uint16_t>(value);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> parseBridgeOptions(const std::vector<std::string>& args,
                                              BridgeOptions* out) {
  bool actionGiven = false;
  auto setAction = [&](Action action) -> std::optional<std::string> {
    if (actionGiven && out->action != action)
      return "--register, --unregister and --help exclude each other";
    actionGiven = true;
    out->action = action;
    return std::nullopt;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string name = arg;
    std::optional<std::string> value;
    if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    if (name == "-h" || name == "--help") {
      if (auto e = setAction(Action::kHelp)) return e;
      continue;
    }
    if (name == "--register") {
      if (auto e = setAction(Action::kRegister)) return e;
      if (!value) continue;
      if (*value == "systemd") {
        out->serviceKind = ServiceKind::kSystemd;
      } else if (*value == "autostart") {
        out->serviceKind = ServiceKind::kAutostart;
      } else {
        return "--register takes systemd or autostart";
      }
      continue;
    }
    if (name == "--unregister") {
      if (value) return "--unregister takes no value";
      if (auto e = setAction(Action::kUnregister)) return e;
      continue;
    }
    const bool known = name == "--pcsc" || name == "--site-address" || name == "--ui" ||
                       name == "--code-page" || name == "--port" || name == "--allow-origin" ||
                       name == "--serve-demo" || name == "--demo-port";
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
    } else if (name == "--ui") {
      if (*value != "none" && *value != "qt" && value->rfind("scripted:", 0) != 0)
        return "--ui takes qt, none or scripted:ACTIONS";
      out->ui = *value;
    } else if (name == "--code-page") {
      out->codePage = *value;
    } else if (name == "--port") {
      if (auto e = parsePort(*value, &out->port)) return e;
      out->portGiven = true;
    } else if (name == "--demo-port") {
      if (auto e = parsePort(*value, &out->demoPort)) return e;
    } else if (name == "--allow-origin") {
      if (value->empty()) return "--allow-origin needs an origin";
      out->allowOrigins.push_back(*value);
    } else {
      if (value->empty()) return "--serve-demo needs a directory";
      out->serveDemo = *value;
    }
  }
  if (out->demoPort != 0 && !out->serveDemo) return "--demo-port needs --serve-demo";
  if (out->action == Action::kRegister && out->port == 0)
    return "a registered service needs a fixed --port";
  // With --register, --serve-demo only lets the native-messaging host serve the demo page's
  // origin; the registered service itself never serves the demo.
  if (out->action == Action::kUnregister && out->serveDemo)
    return "--serve-demo is for an interactive run or --register, not for --unregister";
  return std::nullopt;
}

std::vector<std::string> BridgeOptions::serviceArguments() const {
  std::vector<std::string> argv{"--pcsc", pcsc};
  if (siteAddress) argv.insert(argv.end(), {"--site-address", *siteAddress});
  if (!ui.empty()) argv.insert(argv.end(), {"--ui", ui});
  if (codePage != "UTF-8") argv.insert(argv.end(), {"--code-page", codePage});
  argv.insert(argv.end(), {"--port", std::to_string(port)});
  for (const std::string& origin : allowOrigins)
    argv.insert(argv.end(), {"--allow-origin", origin});
  return argv;
}

}  // namespace ruzazuv::bridge
