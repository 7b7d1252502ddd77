// A card that answers chosen commands with fixed responses and hands every other command to the
// card it wraps, for answers the card model would never give (short records, one-byte replies).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "apdu/hex_codec.h"
#include "platform/simulated_card.h"

namespace ruzazuv::testing {

class ScriptedCard : public SimulatedCard {
 public:
  explicit ScriptedCard(std::shared_ptr<SimulatedCard> inner) : inner_(std::move(inner)) {}

  // From now on the command `commandHex` (upper-case hex) answers `responseHex`.
  void answer(const std::string& commandHex, const std::string& responseHex) {
    std::lock_guard lock(mutex_);
    script_[commandHex] = responseHex;
  }

  std::vector<std::uint8_t> atr() const override { return inner_->atr(); }
  std::uint32_t protocols() const override { return inner_->protocols(); }
  void reset() override { inner_->reset(); }
  std::vector<std::uint8_t> transmit(std::span<const std::uint8_t> command) override {
    {
      std::lock_guard lock(mutex_);
      auto it = script_.find(BytesToHex(command.data(), command.size()));
      if (it != script_.end()) {
        std::vector<std::uint8_t> out(it->second.size() / 2);
        HexToBytes(it->second, out.data(), static_cast<int>(out.size()));
        return out;
      }
    }
    return inner_->transmit(command);
  }

 private:
  std::shared_ptr<SimulatedCard> inner_;
  std::mutex mutex_;
  std::map<std::string, std::string> script_;
};

}  // namespace ruzazuv::testing
