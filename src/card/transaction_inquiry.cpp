// The balance inquiry: the card authorises the inquiry code, the check code and the account.
#include "card/transaction_record.h"
#include "control/card_control.h"

namespace ruzazuv {

using namespace transaction;

std::int32_t CardControl::FiscCardInquiry() {
  std::int32_t ret = 0;
  if (!TransactionPrologue(narrow(Dispid::InquiryTxnID), &ret)) return ret;

  std::string record = narrow(Dispid::InquiryTxnID);
  if (!appendField(&record, narrow(Dispid::FdChkCode), kCheckCodeWidth))
    return refuse(kBadCheckCode);
  if (!SelectTransactionAccount(&record, &ret)) return ret;

  const PcscResult result = RequestTac(record, kInquiryRecord.length, kInquiryRecord.lc);
  if (result != pcsc_code::kSuccess) return result;
  // The inquiry names its code only once the card has answered with data.
  if (recvLength_ > 2) text(Dispid::PCode).assign(text(Dispid::InquiryTxnID).wide());

  EncryptOutput();
  return 0;
}

}  // namespace ruzazuv
