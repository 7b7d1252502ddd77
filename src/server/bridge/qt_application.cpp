#include "bridge/qt_application.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <iostream>

namespace ruzazuv::bridge {

namespace {

int signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: one byte for the event loop to find.
void onSignal(int) {
  const char byte = 1;
  [[maybe_unused]] auto written = ::write(signalPipe[1], &byte, 1);
}

}  // namespace

std::unique_ptr<QCoreApplication> makeApplication(const std::string& ui, int& argc, char** argv) {
  if (ui == "qt") return std::make_unique<QApplication>(argc, argv);
  return std::make_unique<QCoreApplication>(argc, argv);
}

void exitOnStopSignals(QCoreApplication& app, const char* program) {
  std::signal(SIGPIPE, SIG_IGN);
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [program] {
    std::cerr << program << ": stopping\n";
    // exit() rather than quit(): quit() first asks the windows to close, and an open dialog
    // refuses by design, which would leave the program running.
    QCoreApplication::exit(0);
  });
  std::signal(SIGTERM, onSignal);
  std::signal(SIGINT, onSignal);
}

}  // namespace ruzazuv::bridge
