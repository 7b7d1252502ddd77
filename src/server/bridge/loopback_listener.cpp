#include "bridge/loopback_listener.h"

#include <QHostAddress>
#include <QTcpServer>

namespace ruzazuv::bridge {

bool listenOnLoopback(QTcpServer& listener, std::uint16_t port, int inheritedFd,
                      std::string* error) {
  if (inheritedFd >= 0) {
    if (!listener.setSocketDescriptor(inheritedFd)) {
      *error = "cannot use the inherited socket: " + listener.errorString().toStdString();
      return false;
    }
    if (!listener.serverAddress().isLoopback()) {
      *error = "the inherited socket listens on " +
               listener.serverAddress().toString().toStdString() +
               ", not on the loopback address; refusing to serve";
      listener.close();
      return false;
    }
    return true;
  }
  if (!listener.listen(QHostAddress(QHostAddress::LocalHost), port)) {
    *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
             listener.errorString().toStdString();
    return false;
  }
  return true;
}

}  // namespace ruzazuv::bridge
