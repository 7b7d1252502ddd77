// ruzazuv-bridge: the control for bank pages in a browser, as a per-user loopback service.
#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "bridge/bridge_options.h"
#include "bridge/bridge_server.h"
#include "bridge/demo_server.h"
#include "bridge/dialog_views.h"
#include "bridge/http_head.h"
#include "bridge/listen_fds.h"
#include "bridge/native_host_registration.h"
#include "bridge/page_dialogs.h"
#include "bridge/qt_application.h"
#include "bridge/registration.h"
#include "control/card_control.h"
#include "host/host_services.h"
#include "host/origin_allow_list.h"
#include "host/simulated_reader.h"
#include "platform/text_codec.h"

using namespace ruzazuv;
using namespace ruzazuv::bridge;

namespace {

int fail(const std::string& message, int code = 2) {
  std::cerr << "ruzazuv-bridge: " << message << "\n";
  return code;
}

int registration(const BridgeOptions& options) {
  std::string error;
  const auto paths = registrationPaths(&error);
  if (!paths) return fail(error, 1);
  const auto hostPaths = nativeHostPaths(&error);
  if (!hostPaths) return fail(error, 1);
  std::string log;
  bool ok = false;
  if (options.action == Action::kUnregister) {
    unregisterNativeHost(*hostPaths, &log);
    ok = unregisterService(*paths, systemdUserManagerReachable(), &log, &error);
  } else {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return fail("cannot find my own executable: " + ec.message(), 1);
    const auto host = nativeHostCommand(options, self, &error);
    if (!host) return fail(error);
    // Checked before the service is written, so that a refusal leaves nothing half-registered.
    if (auto blocked = nativeHostFilesInTheWay(*hostPaths, *host)) return fail(*blocked, 1);
    const bool systemd = useSystemd(options.serviceKind);
    ServiceCommand command{self, options.serviceArguments(), options.port};
    ok = registerService(*paths, systemd, command, systemd && systemdUserManagerReachable(), &log,
                         &error) &&
         registerNativeHost(*hostPaths, *host, &log, &error);
  }
  std::cout << log;
  return ok ? 0 : fail(error, 1);
}

// The origins served (the allow-list files and those given, else the site address's); the
// demo page's is added later. A bad line in a file is logged and skipped.
std::optional<std::vector<std::string>> allowedOrigins(const BridgeOptions& options,
                                                       const std::u16string& siteAddress) {
  std::vector<std::string> log;
  std::string error;
  auto origins = servedOrigins(options.allowOrigins, utf16ToUtf8(siteAddress),
                               processConfigEnvironment(), &log, &error);
  for (const std::string& line : log) std::cerr << "ruzazuv-bridge: " << line << "\n";
  if (!origins) std::cerr << "ruzazuv-bridge: " << error << "\n";
  return origins;
}

}  // namespace

int main(int argc, char** argv) {
  // Taken first: the variables are cleared so that nothing started later inherits them.
  const std::vector<int> inherited = takeListenFds();

  BridgeOptions options;
  if (auto error = parseBridgeOptions(std::vector<std::string>(argv + 1, argv + argc), &options)) {
    std::cerr << "ruzazuv-bridge: " << *error << "\n" << kBridgeUsage;
    return 2;
  }
  if (options.action == Action::kHelp) {
    std::cout << kBridgeUsage;
    return 0;
  }
  if (options.action != Action::kServe) return registration(options);

  const std::string ui = resolveUiChoice(options.ui);
  qSetMessagePattern(QStringLiteral("%{message}"));
  std::unique_ptr<QCoreApplication> app = makeApplication(ui, argc, argv);
  // Before anything is announced, so that a stop right after the announcement is a clean one.
  exitOnStopSignals(*app, "ruzazuv-bridge");

  std::string error;
  std::unique_ptr<HostServices> host = HostServices::create(options.pcsc, options.codePage, &error);
  if (!host) return fail(error);
  if (options.pcsc != "system")
    std::cerr << "ruzazuv-bridge: simulated reader \"" << kSimulatedReaderName << "\"\n";

  const std::u16string siteAddress =
      options.siteAddress ? utf8ToUtf16(*options.siteAddress) : std::u16string(kDefaultSiteAddress);
  auto origins = allowedOrigins(options, siteAddress);
  if (!origins) return 2;

  // Sockets from the service manager come in the order of its unit's Listen lines: the first
  // is the WebSocket service's, the second the demo page's (with --serve-demo). A port given for
  // a socket that was handed over is not used.
  const int serviceFd = inherited.empty() ? -1 : inherited[0];
  const int demoFd = options.serveDemo && inherited.size() > 1 ? inherited[1] : -1;
  if (inherited.size() > (options.serveDemo ? 2u : 1u))
    std::cerr << "ruzazuv-bridge: ignoring " << inherited.size() - (options.serveDemo ? 2 : 1)
              << " further inherited socket(s)\n";

  std::unique_ptr<DemoServer> demo;
  if (options.serveDemo) {
    demo = std::make_unique<DemoServer>(*options.serveDemo);
    std::uint16_t demoPort = options.demoPort;
    if (demoPort == 0 && options.port != 0 && options.port != 65535)
      demoPort = static_cast<std::uint16_t>(options.port + 1);
    if (!demo->listen(demoPort, demoFd, &error)) return fail(error, 1);
    if (std::find(origins->begin(), origins->end(), demo->origin()) == origins->end())
      origins->push_back(demo->origin());
  }

  std::unique_ptr<DialogHost> view = makeView(ui, &error);
  if (!view && !error.empty()) return fail(error);
  std::unique_ptr<PageDialogs> dialogs = view ? std::make_unique<PageDialogs>(*view) : nullptr;

  BridgeServer server(BridgeConfig{siteAddress, *origins}, *host, dialogs.get());
  if (!server.listen(options.port, serviceFd, &error)) return fail(error, 1);

  std::string originList;
  for (const std::string& o : *origins) originList += (originList.empty() ? "" : ", ") + o;
  std::cerr << "ruzazuv-bridge: serving ws://127.0.0.1:" << server.port() << "/"
            << (inherited.empty() ? "" : " (socket from the service manager)") << " for "
            << (originList.empty() ? std::string("local programs only") : originList)
            << "; dialogs: " << ui << "\n";
  if (demo) {
    const bool hasDemoDir =
        std::filesystem::exists(std::filesystem::path(*options.serveDemo) / "demo" / "index.html");
    std::cerr << "ruzazuv-bridge: demo files of " << *options.serveDemo << " served on port "
              << demo->port() << (demoFd >= 0 ? " (socket from the service manager)" : "") << "\n";
    // The one address to open. The demo page finds the bridge by the port in its query; a
    // simulated reader's card cannot be pulled out, so its exemption from the pull-out check
    // comes ticked.
    std::cout << "Open http://127.0.0.1:" << demo->port();
    if (hasDemoDir)
      std::cout << "/demo/?port=" << server.port()
                << (options.pcsc != "system" ? "&nopullplug=1" : "");
    else
      std::cout << "/";
    std::cout << std::endl;
  }

  return app->exec();
}
