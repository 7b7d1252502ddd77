// PIN verification and change, and the re-verification of the stored PIN block.
//
// PIN blocks are never logged or shown: they travel only to the card and into PinStore.
#include <array>

#include "apdu/hex_codec.h"
#include "control/card_control.h"

namespace ruzazuv {
namespace {

using namespace detail_code;
constexpr std::int32_t kShortestPin = 6;
constexpr std::int32_t kLongestPin = 12;

// The P2 that re-verification always uses.
constexpr std::string_view kStoredPinReference = "10";

// PinStore as the bytes the card receives: each character's low 8 bits, which is exactly what
// the Pin put stored for each character of the PIN.
std::string blockText(const Text& store) {
  std::string out;
  out.reserve(store.length());
  for (char16_t c : store.wide()) out.push_back(static_cast<char>(c & 0xFF));
  return out;
}

// P2 of VerifyPIN: the low byte of bPq. The values whose two hex digits are both decimal
// (0x10 to 0x99, as pages write them) arrive unchanged; any other value is sent as its low
// byte as well rather than through a lossy text conversion.
std::string verifyParameter(std::int32_t bPq) {
  const auto p2 = static_cast<std::uint8_t>(bPq & 0xFF);
  return BytesToHex(&p2, 1);
}

}  // namespace

std::int32_t CardControl::VerifyPIN() {
  const Text& block = text(Dispid::baBuf);
  if (block.isEmpty()) return refuse(kNoPinBlock);
  if (integer(Dispid::bPq) == 0) return refuse(kNoVerifyParameter);

  // Kept before the card is asked, so even a wrong PIN is stored; a reader exempt from the
  // pull-plug check never needs it again.
  if (!process_.readerListedNoPullPlug) process_.pinStore = block;

  // The command always carries 8 bytes: the first 16 characters of baBuf, a shorter baBuf
  // being completed with F (as HexToBytes does for missing characters).
  return TransmitApdu("00", "20", "00", verifyParameter(integer(Dispid::bPq)), "08",
                      narrow(Dispid::baBuf));
}

std::int32_t CardControl::ChangePIN() {
  // With no PIN block held (every connection empties the store) there is nothing to write: an
  // all-F block would replace the card's PIN with one that has no digits at all.
  if (process_.pinStore.isEmpty()) return refuse(kPinLengthRefused);
  if (integer(Dispid::CheckPINLength) == 1 &&
      (pinLength_ < kShortestPin || pinLength_ > kLongestPin)) {
    return refuse(kPinLengthRefused);
  }
  // The block in the code page, as the card receives it: a character that is not an ASCII digit
  // (even one whose low 8 bits would read as a digit, such as U+0131) is not one here either.
  std::string block = process_.pinStore.narrow(services_.codec);
  if (integer(Dispid::CheckPINType) == 1) {
    for (std::int32_t i = 0; i < pinLength_; ++i) {
      const auto at = static_cast<std::size_t>(i);
      // Past the end of the block there is no digit.
      if (at >= block.size() || block[at] < '0' || block[at] > '9') {
        wipeString(block);
        return refuse(kPinNotDigits);
      }
    }
  }

  PcscResult result = TransmitApdu("00", "A4", "02", "00", "02", "00C2");
  if (result == pcsc_code::kSuccess) {
    // Record 1 of the PIN file receives the new block.
    result = TransmitApdu("00", "D2", "01", "04", "08", block);
  }
  wipeString(block);
  return result;
}

std::int32_t CardControl::ReverifyStoredPin() {
  std::string block = blockText(process_.pinStore);
  PcscResult result = TransmitApdu("00", "20", "00", kStoredPinReference, "08", block);
  wipeString(block);
  if (result != pcsc_code::kSuccess) return result;
  // The card must have answered at least its status word, and that word must be 90 00; a
  // shorter answer would leave an earlier response's bytes in the buffer.
  if (recvLength_ >= 2 && recvBuffer_[0] == 0x90 && recvBuffer_[1] == 0x00) return 0;
  return kRefused;
}

}  // namespace ruzazuv
