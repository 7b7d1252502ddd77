// A CardControl on a simulated reader holding a simulated financial card, for component tests.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "control/card_control.h"
#include "platform/clock.h"
#include "platform/simulated_pcsc.h"
#include "platform/system_timer.h"
#include "sim/card_profile.h"
#include "sim/fisc_card.h"

namespace ruzazuv::testing {

inline constexpr const char* kReader = "Test Reader 0";
inline constexpr const char16_t* kReaderW = u"Test Reader 0";
// The default profile's PIN as the page hands it to VerifyPIN.
inline constexpr const char16_t* kPinBlock = u"123456FFFFFFFFFF";

std::vector<std::uint8_t> bytes(std::string_view hex);
std::string hexOf(const std::vector<std::uint8_t>& data);
std::shared_ptr<sim::FiscCard> makeCard(std::string_view profileFile = "default.json");

class ControlHarness {
 public:
  // Any of the services may be replaced; the defaults are the system clock and timer.
  explicit ControlHarness(Clock* clock = nullptr, MultimediaTimer* timer = nullptr,
                          DialogHost* dialogs = nullptr,
                          std::u16string_view siteAddress = kDefaultSiteAddress);

  CardControl& control() { return *controls_.front(); }
  // Another control in the same process, sharing the process-wide state.
  CardControl& newControl();
  // Gives the first control a client site at `page` (approved when it starts with the site).
  void site(std::u16string_view page);

  // ConnectReader, put baReaderName, ConnectCard; each must succeed.
  void connect();
  // connect() and VerifyPIN with `block`; the card must accept it.
  void connectAndVerify(std::u16string_view block = kPinBlock);

  // The command APDUs sent to the test reader since the last clearCommands().
  std::vector<std::vector<std::uint8_t>> commands() const;
  std::vector<std::string> commandsHex() const;
  void clearCommands() { pcsc.clearTranscript(); }

  SimulatedPcsc pcsc;
  std::shared_ptr<sim::FiscCard> card;
  ProcessState process;
  TextCodec codec;

 private:
  SystemClock systemClock_;
  SystemTimer systemTimer_;
  ControlServices services_;
  std::u16string siteAddress_;
  std::vector<std::unique_ptr<CardControl>> controls_;
};

}  // namespace ruzazuv::testing
