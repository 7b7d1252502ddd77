// What every control of the loaded module shares: the process-wide state and the platform
// services (PC/SC, clock, multimedia timer, ANSI text, dialogs).
//
// The PC/SC binding follows the environment variable RUZAZUV_PCSC, read once when the first
// control is made: unset or "system" is winscard.dll, "simulated:PROFILE.json" an in-process
// reader holding the card that the profile describes. Any other value, or a profile that cannot
// be read, makes control creation fail: there is no quiet fallback to another binding.
//
// With the simulated reader only, RUZAZUV_PAGE_ADDRESS names the address of the page that hosts
// every new control, as if a container had sited it (ruzazuv-cli's --page-address): script
// hosts such as cscript site no control, so without it no transaction can run on the simulated
// card. It is ignored with the system's readers, where only a real container's site counts.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "control/control_services.h"
#include "control/process_state.h"

namespace ruzazuv::com {

inline constexpr const char* kPcscVariable = "RUZAZUV_PCSC";
inline constexpr const char* kPageAddressVariable = "RUZAZUV_PAGE_ADDRESS";

// The result control creation fails with when RUZAZUV_PCSC cannot be followed
// (ERROR_BAD_ENVIRONMENT as an HRESULT).
inline constexpr HRESULT kBadPcscChoice = static_cast<HRESULT>(0x8007000A);

class ModulePlatform;

// The module's platform, made on first use; null with `*error` set when RUZAZUV_PCSC cannot be
// followed (asked again on the next call).
ModulePlatform* modulePlatform(std::string* error);
// Releases the platform once no control uses it (module unload).
void releaseModulePlatform();

class ModulePlatform {
 public:
  virtual ~ModulePlatform() = default;
  virtual ControlServices services() = 0;
  virtual ProcessState& process() = 0;
  // The page address of RUZAZUV_PAGE_ADDRESS, when it applies.
  virtual const std::optional<std::u16string>& pageAddress() const = 0;
};

}  // namespace ruzazuv::com
