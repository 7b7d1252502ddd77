// The virtual card's side of vpcd's socket protocol: a TCP client of the vpcd reader driver.
// Every message either way is a 2-byte big-endian length followed by that many bytes. vpcd sends
// one-byte control messages (power off, power on, reset, ATR request) and command APDUs; the card
// answers the ATR request and every APDU. The card is present while the socket is connected.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/simulated_card.h"

namespace ruzazuv::sim {

namespace vpcd {
inline constexpr std::uint8_t kPowerOff = 0;
inline constexpr std::uint8_t kPowerOn = 1;
inline constexpr std::uint8_t kReset = 2;
inline constexpr std::uint8_t kAtrRequest = 4;

// What the card sends back for one message from vpcd; nullopt for the control messages that
// take no answer (power off, power on, reset, which also reset the card).
std::optional<std::vector<std::uint8_t>> answer(SimulatedCard& card,
                                                std::span<const std::uint8_t> message);
}  // namespace vpcd

class VpcdLink {
 public:
  VpcdLink(std::string host, std::uint16_t port);
  ~VpcdLink();
  VpcdLink(const VpcdLink&) = delete;
  VpcdLink& operator=(const VpcdLink&) = delete;

  // Connects (blocking; loopback answers at once). On failure returns false with the reason.
  bool connect(std::string* error);
  void close();
  bool connected() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Reads what has arrived (call when the socket is readable) and appends every complete message
  // to `messages`. Returns false when vpcd closed the connection or it failed; the link is then
  // closed.
  bool receive(std::vector<std::vector<std::uint8_t>>& messages);
  bool send(std::span<const std::uint8_t> payload);

 private:
  std::string host_;
  std::uint16_t port_;
  int fd_ = -1;
  std::vector<std::uint8_t> pending_;
};

}  // namespace ruzazuv::sim
