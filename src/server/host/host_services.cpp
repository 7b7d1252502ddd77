#include "host/host_services.h"

#include "host/simulated_reader.h"
#include "platform/system_pcsc.h"

namespace ruzazuv {

std::unique_ptr<Pcsc> makeHostPcsc(const std::string& choice, std::string* error) {
  static constexpr std::string_view kSimulated = "simulated:";
  if (choice == "system") return std::make_unique<SystemPcsc>();
  if (choice.rfind(kSimulated, 0) == 0)
    return makeSimulatedReader(choice.substr(kSimulated.size()), error);
  *error = "--pcsc takes system or simulated:PROFILE.json";
  return nullptr;
}

std::unique_ptr<HostServices> HostServices::create(const std::string& pcscChoice,
                                                   const std::string& codePage,
                                                   std::string* error) {
  std::unique_ptr<Pcsc> pcsc = makeHostPcsc(pcscChoice, error);
  if (!pcsc) return nullptr;
  return std::unique_ptr<HostServices>(new HostServices(std::move(pcsc), codePage));
}

}  // namespace ruzazuv
