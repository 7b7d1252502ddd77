#include "cli/doctor_command.h"

#include <charconv>
#include <iostream>

#include "bridge/bridge_options.h"
#include "cli/doctor_bridge_probe.h"
#include "cli/doctor_display_checks.h"
#include "cli/doctor_pcsc_checks.h"
#include "cli/doctor_report.h"
#include "cli/doctor_setup_checks.h"
#include "platform/system_pcsc.h"

namespace ruzazuv::doctor {

const char* const kDoctorUsage =
    "usage: ruzazuv-cli doctor [--json] [--port N]\n"
    "Checks what a bank page needs and prints one line per check: ok, warn, FAIL or skip,\n"
    "what was found and what to do. Checks, in order: pcscd, readers, card (one line per\n"
    "reader), bridge, origins, manifest (one line per browser), local-network, display, font.\n"
    "  --json    one JSON object: {\"checks\": [{id, subject, verdict, found, advice}...],\n"
    "            \"exit\": N}\n"
    "  --port N  the bridge's port (default 47950)\n"
    "Exit status (the first failing check decides):\n"
    "  0  everything a page needs is in place (warnings may remain)\n"
    "  1  the smart-card service (pcscd) does not answer\n"
    "  2  bad command line\n"
    "  3  no card reader\n"
    "  4  no card, or the card's financial application does not answer\n"
    "  5  the bridge does not answer (and the extension's host is not installed), or its\n"
    "     service cannot start\n"
    "  6  another program holds the bridge's port\n"
    "  7  the bridge's dialogs cannot be shown (no display or no Qt platform plugin)\n";

std::optional<std::string> parseDoctorOptions(const std::vector<std::string>& args,
                                              DoctorOptions* out) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      out->help = true;
    } else if (arg == "--json") {
      out->json = true;
    } else if (arg == "--port" || arg.rfind("--port=", 0) == 0) {
      std::string value;
      if (arg == "--port") {
        if (i + 1 >= args.size()) return "option --port needs a value";
        value = args[++i];
      } else {
        value = arg.substr(7);
      }
      unsigned port = 0;
      auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
      if (ec != std::errc{} || end != value.data() + value.size() || port < 1 || port > 65535)
        return "--port takes a number from 1 to 65535";
      out->port = static_cast<std::uint16_t>(port);
    } else {
      return "unknown option: " + arg;
    }
  }
  return std::nullopt;
}

int runDoctor(const std::vector<std::string>& args) {
  DoctorOptions options;
  if (auto error = parseDoctorOptions(args, &options)) {
    std::cerr << "ruzazuv-cli doctor: " << *error << "\n" << kDoctorUsage;
    return exit_code::kUsage;
  }
  if (options.help) {
    std::cout << kDoctorUsage;
    return exit_code::kReady;
  }
  const std::uint16_t port = options.port ? options.port : bridge::kDefaultPort;

  SystemPcsc pcsc;
  std::vector<Finding> findings = checkSmartCards(pcsc, pcscdSocketState());
  BrowserFindings browsers = checkBrowsers();
  const ProbeResult probe = probeBridge(port, std::chrono::seconds(3));
  findings.push_back(
      bridgeFinding(probe, port, browsers.extensionHostInstalled,
                    probe.outcome == ProbeOutcome::kForeign && bridgeSocketActive()));
  findings.push_back(checkOrigins());
  for (Finding& f : browsers.manifests) findings.push_back(std::move(f));
  findings.push_back(std::move(browsers.localNetwork));
  for (Finding& f : checkDisplay()) findings.push_back(std::move(f));

  if (options.json)
    printJson(findings, std::cout);
  else
    printText(findings, std::cout);
  std::cout.flush();
  return exitStatus(findings);
}

}  // namespace ruzazuv::doctor
