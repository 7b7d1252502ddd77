// Sockets handed over by a service manager (systemd socket activation): LISTEN_PID names this
// process, LISTEN_FDS counts descriptors from 3. Read without libsystemd.
#pragma once

#include <vector>

namespace ruzazuv::bridge {

inline constexpr int kListenFdsStart = 3;

// The inherited descriptors, each marked close-on-exec; none when the variables are absent,
// malformed or meant for another process. Clears the variables so children do not see them.
std::vector<int> takeListenFds();

}  // namespace ruzazuv::bridge
