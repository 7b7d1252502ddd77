// The tax payment and the merchant payment: authorisations that run no user-presence check.
#include <array>
#include <cstdio>

#include "card/transaction_record.h"
#include "control/card_control.h"

namespace ruzazuv {

using namespace transaction;

namespace {

// The local time as the payment record carries it: year, month, day, hour, minute, second.
// A year that does not have four digits gives a text of another length, which the record's
// width check then refuses.
std::string formatDateTime(const LocalTime& t) {
  std::array<char, 96> buffer{};
  const int n = std::snprintf(buffer.data(), buffer.size(), "%4d%02d%02d%02d%02d%02d", t.year,
                              t.month, t.day, t.hour, t.minute, t.second);
  if (n < 0) return {};
  return std::string(buffer.data());
}

}  // namespace

std::int32_t CardControl::FiscCardTax() {
  std::int32_t ret = 0;
  if (!TransactionPrologue(narrow(Dispid::TransferTxnID), &ret)) return ret;
  text(Dispid::PCode).assign(text(Dispid::TransferTxnID).wide());

  std::string record = narrow(Dispid::TransferTxnID);
  if (const std::int32_t code =
          appendAmountFields(&record, narrow(Dispid::money), narrow(Dispid::FdId),
                             narrow(Dispid::FdChkCode), narrow(Dispid::DateTime));
      code != 0)
    return refuse(code);
  if (!appendField(&record, narrow(Dispid::PaymentType), kPaymentTypeWidth))
    return refuse(kBadPaymentType);
  if (!SelectTransactionAccount(&record, &ret)) return ret;
  if (!appendField(&record, narrow(Dispid::CancelNo), kCancelNoWidth)) return refuse(kBadCancelNo);

  const PcscResult result = RequestTac(record, kTaxRecord.length, kTaxRecord.lc);
  if (result != pcsc_code::kSuccess) return result;
  EncryptOutput();
  return 0;
}

std::int32_t CardControl::FiscCardPayment() {
  // The payment's own opening: its code is fixed, and any failure of the re-verification,
  // a refused PIN or a reader error, is reported as one detail code.
  if (!siteApproved_) return refuse(kSiteNotApproved);
  if (!storedPinUsable(process_.pinStore.wide())) return refuse(kNoStoredPin);
  const LocalTime now = services_.clock.localTime();
  if (ReverifyStoredPin() != 0) return refuse(kPinReverifyFailed);

  // The payment dates itself: whatever the page put into DateTime is replaced.
  const std::string dateTime = formatDateTime(now);
  setNarrow(Dispid::DateTime, dateTime);
  text(Dispid::PCode).assign(u"2541");

  std::string record(kPaymentCode);
  if (const std::int32_t code =
          appendAmountFields(&record, narrow(Dispid::money), narrow(Dispid::FdId),
                             narrow(Dispid::FdChkCode), dateTime);
      code != 0)
    return refuse(code);
  if (!appendField(&record, narrow(Dispid::MerchantID), kMerchantIdWidth))
    return refuse(kBadMerchantId);
  std::int32_t ret = 0;
  if (!SelectTransactionAccount(&record, &ret)) return ret;

  const PcscResult result = RequestTac(record, kPaymentRecord.length, kPaymentRecord.lc);
  if (result != pcsc_code::kSuccess) return result;
  EncryptOutput();
  return 0;
}

}  // namespace ruzazuv
