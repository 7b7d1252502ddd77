// The platform services a CardControl uses, supplied by its host (real or simulated).
#pragma once

#include "platform/clock.h"
#include "platform/multimedia_timer.h"
#include "platform/pcsc.h"
#include "platform/text_codec.h"

namespace ruzazuv {

class DialogHost;

struct ControlServices {
  Pcsc& pcsc;
  Clock& clock;
  MultimediaTimer& timer;
  const TextCodec& codec;
  // Shows the confirmation and countdown dialogs; null when the host can show none.
  DialogHost* dialogs = nullptr;
};

}  // namespace ruzazuv
