// The platform services every host (the command-line tool, the bridge) assembles for its
// controls: the PC/SC binding chosen by `--pcsc`, the clock, the multimedia timer and the codec.
#pragma once

#include <memory>
#include <string>

#include "control/control_services.h"
#include "platform/clock.h"
#include "platform/system_timer.h"
#include "platform/text_codec.h"

namespace ruzazuv {

// "system" gives pcsc-lite, "simulated:PROFILE.json" an in-process reader holding the profile's
// card. Null with `*error` set for any other text or an unreadable profile.
std::unique_ptr<Pcsc> makeHostPcsc(const std::string& choice, std::string* error);

class HostServices {
 public:
  // Null with `*error` set when the PC/SC choice cannot be made.
  static std::unique_ptr<HostServices> create(const std::string& pcscChoice,
                                              const std::string& codePage, std::string* error);

  ControlServices services(DialogHost* dialogs) {
    return ControlServices{*pcsc_, clock_, timer_, codec_, dialogs};
  }
  Pcsc& pcsc() { return *pcsc_; }
  const TextCodec& codec() const { return codec_; }

 private:
  HostServices(std::unique_ptr<Pcsc> pcsc, const std::string& codePage)
      : pcsc_(std::move(pcsc)), codec_(codePage) {}

  std::unique_ptr<Pcsc> pcsc_;
  SystemClock clock_;
  SystemTimer timer_;
  TextCodec codec_;
};

}  // namespace ruzazuv
