#include "host/simulated_reader.h"

#include <exception>

#include "platform/simulated_pcsc.h"
#include "sim/card_profile.h"
#include "sim/fisc_card.h"

namespace ruzazuv {

std::unique_ptr<Pcsc> makeSimulatedReader(const std::string& profilePath, std::string* error) {
  try {
    auto card = std::make_shared<sim::FiscCard>(sim::loadCardProfile(profilePath));
    auto pcsc = std::make_unique<SimulatedPcsc>();
    pcsc->addReader(kSimulatedReaderName);
    pcsc->insertCard(kSimulatedReaderName, card);
    return pcsc;
  } catch (const std::exception& e) {
    *error = "cannot load card profile " + profilePath + ": " + e.what();
    return nullptr;
  }
}

}  // namespace ruzazuv
