// Listening on the loopback address only: a new socket on 127.0.0.1:PORT, or a listening socket
// handed over by the service manager, which is refused unless it too is bound to loopback.
#pragma once

#include <cstdint>
#include <string>

class QTcpServer;

namespace ruzazuv::bridge {

// Listens with `listener` on `inheritedFd` when it is not negative, else on 127.0.0.1:port
// (0 = any free port). False with `*error` set on failure.
bool listenOnLoopback(QTcpServer& listener, std::uint16_t port, int inheritedFd,
                      std::string* error);

}  // namespace ruzazuv::bridge
