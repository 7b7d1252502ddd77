// The steps every authorisation operation is built from: the opening checks with the PIN
// re-verification, the choice of the card account, and the authorisation command with its
// response.
#include <algorithm>
#include <string>

#include "apdu/hex_codec.h"
#include "card/transaction_record.h"
#include "control/card_control.h"

namespace ruzazuv {
namespace {

// Response layout of the authorisation command (offsets into the response data).
constexpr std::size_t kIccOffset = 1;
constexpr std::size_t kIccLength = 8;
constexpr std::size_t kTacLengthOffset = 9;
constexpr std::size_t kTacOffset = 11;
constexpr std::size_t kStatusWordLength = 2;

// The two length bytes written as four hex digits and read as a decimal number, stopping at the
// first digit A to F: the field is binary-coded decimal (00 16 is 16).
std::size_t decimalFromBcd(const std::uint8_t* field) {
  const std::string digits = BytesToHex(field, 2);
  std::size_t n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') break;
    n = n * 10 + static_cast<std::size_t>(c - '0');
  }
  return n;
}

}  // namespace

bool CardControl::TransactionPrologue(std::string_view transactionCode, std::int32_t* ret) {
  if (!siteApproved_) {
    *ret = refuse(transaction::kSiteNotApproved);
    return false;
  }
  if (!transaction::storedPinUsable(process_.pinStore.wide())) {
    *ret = refuse(transaction::kNoStoredPin);
    return false;
  }
  // A code shorter than four characters would leave the record short of its Lc. It is refused
  // here, before the card sees anything. A longer code is accepted: only the first Lc bytes of
  // the record are sent.
  if (transactionCode.size() < transaction::kTransactionCodeWidth) {
    *ret = refuse(transaction::kShortTransactionCode);
    return false;
  }
  const std::int32_t verified = ReverifyStoredPin();
  if (verified == 0) return true;
  // The card refused the PIN: the exchange itself succeeded, and the page finds the card's
  // verdict in uiSW12. A failed exchange passes its PC/SC result on.
  *ret = verified == kRefused ? 0 : verified;
  return false;
}

bool CardControl::SelectTransactionAccount(std::string* record, std::int32_t* ret) {
  // An index that names none of the eight accounts leaves no account for the record; it is
  // refused before the account list is read, whatever Account holds.
  const std::int32_t index = integer(Dispid::curAccntIndex);
  if (index < 1 || index > 8) {
    *ret = refuse(transaction::kBadAccount);
    return false;
  }
  // The accounts (and issueNo) are read fresh from the card; the result does not matter here,
  // as a list that could not be read shows up as an account of the wrong length.
  static_cast<void>(FiscListAccounts());
  const Dispid chosen = offset(Dispid::account0, index - 1);
  text(Dispid::Account).assign(text(chosen).wide());
  const std::string& account = narrow(Dispid::Account);
  if (!transaction::appendField(record, account, transaction::kAccountWidth)) {
    *ret = refuse(transaction::kBadAccount);
    return false;
  }
  return true;
}

PcscResult CardControl::RequestTac(const std::string& record, std::size_t length,
                                   std::string_view lc) {
  // Callers have checked every field, so the record holds at least `length` bytes; a longer
  // one (a transaction code of more than four characters) is cut at its length.
  const std::size_t sent = std::min(length, record.size());
  const std::string data = BytesToHex(reinterpret_cast<const std::uint8_t*>(record.data()), sent);
  const PcscResult result = TransmitApdu("00", "E2", "10", "80", lc, data, "00");
  if (result != pcsc_code::kSuccess) return result;
  // A status word alone leaves ICC, TACLen and TAC as they were.
  if (recvLength_ <= kStatusWordLength) return result;

  setNarrow(Dispid::ICC, ResponseText(kIccOffset, kIccLength));
  // The TAC is taken from the bytes the card actually sent: a length field that reaches beyond
  // them is cut to what arrived, and TACLen tells that count.
  const std::size_t received = recvLength_ - kStatusWordLength;
  const std::size_t available = received > kTacOffset ? received - kTacOffset : 0;
  const std::size_t tacLength =
      std::min(decimalFromBcd(recvBuffer_.data() + kTacLengthOffset), available);
  setNarrow(Dispid::TACLen, std::to_string(tacLength));
  setNarrow(Dispid::TAC, ResponseHex(kTacOffset, tacLength));
  return result;
}

}  // namespace ruzazuv
