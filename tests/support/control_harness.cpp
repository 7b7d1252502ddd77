#include "support/control_harness.h"

#include <gtest/gtest.h>

#include "apdu/hex_codec.h"

namespace ruzazuv::testing {

std::vector<std::uint8_t> bytes(std::string_view hex) {
  std::vector<std::uint8_t> out(hex.size() / 2);
  HexToBytes(hex, out.data(), static_cast<int>(out.size()));
  return out;
}

std::string hexOf(const std::vector<std::uint8_t>& data) {
  return BytesToHex(data.data(), data.size());
}

std::shared_ptr<sim::FiscCard> makeCard(std::string_view profileFile) {
  return std::make_shared<sim::FiscCard>(
      sim::loadCardProfile(sim::builtinProfilePath(profileFile)));
}

ControlHarness::ControlHarness(Clock* clock, MultimediaTimer* timer, DialogHost* dialogs,
                               std::u16string_view siteAddress)
    : card(makeCard()),
      services_{pcsc, clock ? *clock : systemClock_, timer ? *timer : systemTimer_, codec, dialogs},
      siteAddress_(siteAddress) {
  pcsc.addReader(kReader);
  pcsc.insertCard(kReader, card);
  newControl();
}

CardControl& ControlHarness::newControl() {
  controls_.push_back(std::make_unique<CardControl>(services_, process, siteAddress_));
  return *controls_.back();
}

void ControlHarness::site(std::u16string_view page) {
  control().setClientSite(std::u16string(page));
}

void ControlHarness::connect() {
  CardControl& c = control();
  ASSERT_EQ(c.call(Dispid::ConnectReader), 0);
  c.putText(Dispid::baReaderName, kReaderW);
  ASSERT_EQ(c.call(Dispid::ConnectCard), 0);
}

void ControlHarness::connectAndVerify(std::u16string_view block) {
  connect();
  CardControl& c = control();
  c.putText(Dispid::baBuf, block);
  c.putInt(Dispid::bPq, 0x10);
  ASSERT_EQ(c.VerifyPIN(), 0);
  ASSERT_EQ(c.getInt(Dispid::uiSW12), 0x9000);
}

std::vector<std::vector<std::uint8_t>> ControlHarness::commands() const {
  return pcsc.commands(kReader);
}

std::vector<std::string> ControlHarness::commandsHex() const {
  std::vector<std::string> out;
  for (const auto& c : commands()) out.push_back(hexOf(c));
  return out;
}

}  // namespace ruzazuv::testing
