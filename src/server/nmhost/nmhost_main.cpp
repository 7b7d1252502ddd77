// ruzazuv-nmhost: the control for bank pages in a browser, as the native-messaging host the
// browser starts for the RuzaZUV extension. Standard output carries frames only; every log line
// goes to standard error.
#include <unistd.h>
#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <filesystem>
#include <iostream>
#include <memory>

#include "bridge/dialog_views.h"
#include "bridge/native_host_registration.h"
#include "bridge/page_dialogs.h"
#include "bridge/qt_application.h"
#include "control/card_control.h"
#include "host/host_services.h"
#include "host/origin_allow_list.h"
#include "host/simulated_reader.h"
#include "nmhost/native_host.h"
#include "nmhost/nmhost_options.h"
#include "platform/text_codec.h"

using namespace ruzazuv;
using namespace ruzazuv::nmhost;

namespace {

int fail(const std::string& message, int code = 2) {
  std::cerr << "ruzazuv-nmhost: " << message << "\n";
  return code;
}

// Writes the whole frame with write(2); false once standard output is closed or broken.
bool writeFrame(std::string_view frame) {
  while (!frame.empty()) {
    const ssize_t n = ::write(STDOUT_FILENO, frame.data(), frame.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    frame.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// --register / --unregister: the browsers' manifests naming this host (through a launcher when
// options are given), without the bridge's service.
int registration(const bridge::BridgeOptions& options) {
  std::string error;
  const auto paths = bridge::nativeHostPaths(&error);
  if (!paths) return fail(error, 1);
  std::string log;
  bool ok = true;
  if (options.action == bridge::Action::kUnregister) {
    bridge::unregisterNativeHost(*paths, &log);
  } else {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return fail("cannot find my own executable: " + ec.message(), 1);
    const auto command = bridge::nativeHostCommand(options, self, &error);
    if (!command) return fail(error);
    ok = bridge::registerNativeHost(*paths, *command, &log, &error);
  }
  std::cout << log;
  return ok ? 0 : fail(error, 1);
}

}  // namespace

int main(int argc, char** argv) {
  NativeHostOptions options;
  if (auto error =
          parseNativeHostOptions(std::vector<std::string>(argv + 1, argv + argc), &options)) {
    std::cerr << "ruzazuv-nmhost: " << *error << "\n" << kNativeHostUsage;
    return 2;
  }
  if (options.help) {
    std::cout << kNativeHostUsage;
    return 0;
  }
  if (options.serving.action == bridge::Action::kRegister ||
      options.serving.action == bridge::Action::kUnregister) {
    if (!options.browserArguments.empty())
      return fail("--register and --unregister take no other arguments");
    return registration(options.serving);
  }
  for (const std::string& arg : options.browserArguments)
    std::cerr << "ruzazuv-nmhost: started with " << arg << "\n";

  const bridge::BridgeOptions& serving = options.serving;
  const std::string ui = bridge::resolveUiChoice(serving.ui);
  qSetMessagePattern(QStringLiteral("%{message}"));
  // Qt sees only the program's name: the other arguments are the browser's, not Qt options.
  int qtArgc = 1;
  std::unique_ptr<QCoreApplication> app = bridge::makeApplication(ui, qtArgc, argv);
  bridge::exitOnStopSignals(*app, "ruzazuv-nmhost");

  std::string error;
  std::unique_ptr<HostServices> host = HostServices::create(serving.pcsc, serving.codePage, &error);
  if (!host) return fail(error);
  if (serving.pcsc != "system")
    std::cerr << "ruzazuv-nmhost: simulated reader \"" << kSimulatedReaderName << "\"\n";

  const std::u16string siteAddress =
      serving.siteAddress ? utf8ToUtf16(*serving.siteAddress) : std::u16string(kDefaultSiteAddress);
  std::vector<std::string> log;
  auto origins = servedOrigins(serving.allowOrigins, utf16ToUtf8(siteAddress),
                               processConfigEnvironment(), &log, &error);
  for (const std::string& line : log) std::cerr << "ruzazuv-nmhost: " << line << "\n";
  if (!origins) return fail(error);

  std::unique_ptr<DialogHost> view = bridge::makeView(ui, &error);
  if (!view && !error.empty()) return fail(error);
  std::unique_ptr<bridge::PageDialogs> dialogs =
      view ? std::make_unique<bridge::PageDialogs>(*view) : nullptr;

  std::string originList;
  for (const std::string& o : *origins) originList += (originList.empty() ? "" : ", ") + o;
  std::cerr << "ruzazuv-nmhost: serving "
            << (originList.empty() ? std::string("no origin") : originList) << "; dialogs: " << ui
            << "\n";

  int status = 0;
  bool done = false;
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  NativeHost nativeHost(
      NativeHostConfig{siteAddress, *origins}, *host, dialogs.get(), writeFrame,
      [&] {
        QMetaObject::invokeMethod(
            app.get(),
            [&] {
              nativeHost.run();
              // Reading pauses while the queue is full, and resumes once it has run down.
              if (!done && nativeHost.wantsInput()) input.setEnabled(true);
            },
            Qt::QueuedConnection);
      },
      [&](int code) {
        status = code;
        done = true;
        input.setEnabled(false);
        // exit() rather than quit(): it also ends a dialog's loop, should one be open.
        QCoreApplication::exit(code);
      });

  // Read by the event loop, so that frames keep coming (and are queued) while a dialog is open.
  std::array<char, 64 * 1024> buffer{};
  QObject::connect(&input, &QSocketNotifier::activated, app.get(), [&] {
    const ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
      input.setEnabled(false);
      nativeHost.endOfInput();
    } else {
      nativeHost.feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    }
    secureZero(buffer.data(), buffer.size());
    if (!nativeHost.wantsInput()) input.setEnabled(false);
  });

  if (!done) app->exec();
  secureZero(buffer.data(), buffer.size());
  return status;
}
