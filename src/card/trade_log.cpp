// The card's trade log (file 1080): the first ten records, undecoded, as hex text.
#include "apdu/hex_codec.h"
#include "control/card_control.h"

namespace ruzazuv {

std::int32_t CardControl::FiscListTradeLog() {
  PcscResult result = TransmitApdu("00", "A4", "02", "00", "02", "1080");
  if (result != pcsc_code::kSuccess) return result;

  for (int n = 1; n <= 10; ++n) {
    const auto number = static_cast<std::uint8_t>(n);
    result = TransmitApdu("00", "B2", BytesToHex(&number, 1), "04", std::nullopt, {}, "00");
    if (result != pcsc_code::kSuccess) return result;
    // A status word alone (record not found, ...) leaves the entry as it was.
    if (recvLength_ <= 2) continue;
    // Every data byte of the answer, without the status bytes.
    setNarrow(offset(Dispid::tradeLog1, n - 1), ResponseHex(0, recvLength_ - 2));
  }
  return 0;
}

}  // namespace ruzazuv
