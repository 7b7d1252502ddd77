#include "bridge/listen_fds.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace ruzazuv::bridge {
namespace {

bool parseNumber(const char* text, long* out) {
  if (text == nullptr || *text == '\0') return false;
  const char* end = text + std::strlen(text);
  auto [ptr, ec] = std::from_chars(text, end, *out);
  return ec == std::errc() && ptr == end;
}

}  // namespace

std::vector<int> takeListenFds() {
  long pid = 0;
  long count = 0;
  const bool ours = parseNumber(std::getenv("LISTEN_PID"), &pid) &&
                    parseNumber(std::getenv("LISTEN_FDS"), &count) &&
                    pid == static_cast<long>(getpid()) && count > 0 && count < 64;
  unsetenv("LISTEN_PID");
  unsetenv("LISTEN_FDS");
  unsetenv("LISTEN_FDNAMES");
  std::vector<int> fds;
  if (!ours) return fds;
  for (int fd = kListenFdsStart; fd < kListenFdsStart + static_cast<int>(count); ++fd) {
    const int flags = fcntl(fd, F_GETFD);
    if (flags < 0) continue;  // not open after all
    fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    fds.push_back(fd);
  }
  return fds;
}

}  // namespace ruzazuv::bridge
