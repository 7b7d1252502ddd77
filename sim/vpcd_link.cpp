#include "vpcd_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ruzazuv::sim {

namespace vpcd {

std::optional<std::vector<std::uint8_t>> answer(SimulatedCard& card,
                                                std::span<const std::uint8_t> message) {
  // Not part of the protocol; answering it would shift every later answer by one.
  if (message.empty()) return std::nullopt;
  if (message.size() == 1) {
    switch (message[0]) {
      case kPowerOff:
      case kPowerOn:
      case kReset:
        card.reset();
        return std::nullopt;
      case kAtrRequest:
        return card.atr();
      default:
        return std::nullopt;  // unknown control message: vpcd expects no answer
    }
  }
  return card.transmit(message);
}

}  // namespace vpcd

namespace {

void setOption(int fd, int level, int name) {
  int on = 1;
  ::setsockopt(fd, level, name, &on, sizeof on);
}

}  // namespace

VpcdLink::VpcdLink(std::string host, std::uint16_t port) : host_(std::move(host)), port_(port) {}

VpcdLink::~VpcdLink() {
  close();
}

bool VpcdLink::connect(std::string* error) {
  close();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port_);
  if (::inet_pton(AF_INET, host_.c_str(), &address.sin_addr) != 1) {
    if (error) *error = "not an IPv4 address: " + host_;
    return false;
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (error) *error = std::strerror(errno);
    ::close(fd);
    return false;
  }
  // Without these every exchange waits for the peer's delayed acknowledgement (about 40 ms).
  setOption(fd, IPPROTO_TCP, TCP_NODELAY);
  setOption(fd, IPPROTO_TCP, TCP_QUICKACK);
  fd_ = fd;
  pending_.clear();
  return true;
}

void VpcdLink::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  pending_.clear();
}

bool VpcdLink::receive(std::vector<std::vector<std::uint8_t>>& messages) {
  if (fd_ < 0) return false;
  // The kernel clears quick-ack mode on its own; set it again before every read.
  setOption(fd_, IPPROTO_TCP, TCP_QUICKACK);
  std::uint8_t buffer[4096];
  const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    close();
    return false;
  }
  if (n > 0) pending_.insert(pending_.end(), buffer, buffer + n);
  std::size_t pos = 0;
  while (pending_.size() - pos >= 2) {
    const std::size_t length = static_cast<std::size_t>(pending_[pos] << 8 | pending_[pos + 1]);
    if (pending_.size() - pos - 2 < length) break;
    messages.emplace_back(pending_.begin() + static_cast<std::ptrdiff_t>(pos + 2),
                          pending_.begin() + static_cast<std::ptrdiff_t>(pos + 2 + length));
    pos += 2 + length;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pos));
  return true;
}

bool VpcdLink::send(std::span<const std::uint8_t> payload) {
  if (fd_ < 0 || payload.size() > 0xFFFF) return false;
  std::vector<std::uint8_t> frame;
  frame.reserve(payload.size() + 2);
  frame.push_back(static_cast<std::uint8_t>(payload.size() >> 8));
  frame.push_back(static_cast<std::uint8_t>(payload.size() & 0xFF));
  frame.insert(frame.end(), payload.begin(), payload.end());
  std::size_t sent = 0;
  while (sent < frame.size()) {
    const ssize_t n = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close();
      return false;
    }
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace ruzazuv::sim
