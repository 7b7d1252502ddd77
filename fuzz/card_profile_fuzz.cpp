// The card-profile loader on any text: it either gives a profile or throws std::runtime_error
// naming what is wrong (anything else escaping is a fault), and the card made from an accepted
// profile answers every command that reads its files without failing.
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "sim/card_profile.h"
#include "sim/fisc_card.h"

namespace {

using Apdu = std::vector<std::uint8_t>;

void readEverything(ruzazuv::sim::FiscCard& card) {
  const std::uint8_t application[] = {0xA0, 0x00, 0x00, 0x01, 0x72, 0x95, 0x00, 0x01};
  Apdu select = {0x00, 0xA4, 0x04, 0x00, 0x08};
  select.insert(select.end(), std::begin(application), std::end(application));
  select.push_back(0x00);
  card.transmit(select);
  for (std::uint16_t file : {0x1001, 0x1002, 0x1080}) {
    card.transmit(Apdu{0x00, 0xA4, 0x02, 0x00, 0x02, static_cast<std::uint8_t>(file >> 8),
                       static_cast<std::uint8_t>(file & 0xFF)});
    for (std::uint8_t record = 1; record <= 10; ++record)
      card.transmit(Apdu{0x00, 0xB2, record, 0x04, 0x00});
  }
  card.transmit(Apdu{0x00, 0x86, 0x00, 0x00, 0x08});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ruzazuv::sim::CardProfile profile;
  try {
    profile = ruzazuv::sim::parseCardProfile(text);
  } catch (const std::runtime_error&) {
    return 0;
  }
  ruzazuv::sim::FiscCard card(std::move(profile));
  readEverything(card);
  return 0;
}
