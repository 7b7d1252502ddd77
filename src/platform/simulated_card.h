// A card that SimulatedPcsc and the vpcd card program can hold: answers command APDUs.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace ruzazuv {

class SimulatedCard {
 public:
  virtual ~SimulatedCard() = default;
  // The answer to reset; its interface bytes decide which protocols the card offers.
  virtual std::vector<std::uint8_t> atr() const = 0;
  // Mask of kProtocolT0 / kProtocolT1 the card speaks.
  virtual std::uint32_t protocols() const = 0;
  // Power cycle or warm reset: the card forgets its selections.
  virtual void reset() = 0;
  // One command APDU in, the response data followed by SW1 SW2 out.
  virtual std::vector<std::uint8_t> transmit(std::span<const std::uint8_t> command) = 0;
};

}  // namespace ruzazuv
