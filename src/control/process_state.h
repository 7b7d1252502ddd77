// State that every CardControl of one process (in the bridge: of one page origin) shares.
// It is not locked: all IVorn calls run on one thread, one at a time.
#pragma once

#include "control/text_value.h"
#include "platform/pcsc.h"

namespace ruzazuv {

struct ProcessState {
  // ReaderContext: the PC/SC context and card handles; never reset to 0 by the control.
  PcscContext context = 0;
  PcscHandle card = 0;
  // Whether `card` is a connection this process made and has not let go of yet. ConnectCard
  // releases such a handle before it connects anew, so that neither a page that reloads nor a
  // card pulled out and put back leaves an exclusive connection holding the reader.
  bool cardHeld = false;
  Text lastReaderName;  // absent until the first put of baReaderName
  bool readerListedNoPullPlug = false;
  Text cardIdentity = Text::empty();
  Text identityReaderName = Text::empty();
  bool identityReadOk = true;
  Text pinStore;  // absent at load
  Text expectedServerAnswer = Text::empty();
};

}  // namespace ruzazuv
