// EncryptOutput: OptionData1 := hex of the AES-128 ECB encryption of TAC followed by OptionData1.
#include "control/card_control.h"
#include "crypto/encrypt_output.h"

namespace ruzazuv {

bool CardControl::EncryptOutput() {
  // The cipher refuses an empty plaintext (both inputs empty). That is not the calling
  // operation's failure: OptionData1 is left empty and the caller's result stays as it is.
  std::optional<std::string> hex =
      tryEncryptOutputHex(*cipher_, narrow(Dispid::TAC), narrow(Dispid::OptionData1));
  if (!hex) {
    text(Dispid::OptionData1).assign(u"");
    return false;
  }
  setNarrow(Dispid::OptionData1, *hex);
  return true;
}

}  // namespace ruzazuv
