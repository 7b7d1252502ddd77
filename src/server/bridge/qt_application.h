// The Qt side of a host program's start (the bridge, the native-messaging host): the
// application object its event loop and dialogs need, and the stop signals ending that loop.
#pragma once

#include <QCoreApplication>
#include <memory>
#include <string>

namespace ruzazuv::bridge {

// A QApplication when the dialogs are drawn with Qt widgets (`ui` is "qt"), else a
// QCoreApplication. `argc` must outlive the application.
std::unique_ptr<QCoreApplication> makeApplication(const std::string& ui, int& argc, char** argv);

// SIGTERM and SIGINT end the event loop, so that the process leaves through main and its
// controls let go of the card; "PROGRAM: stopping" is logged. SIGPIPE is ignored: a peer that
// has gone shows as a failed write. Once per process.
void exitOnStopSignals(QCoreApplication& app, const char* program);

}  // namespace ruzazuv::bridge
