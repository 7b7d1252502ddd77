// The transfer and the expense: authorisations that first make sure a person is at the card.
// Both run the pull-plug procedure (unless the reader is exempt); the transfer also asks for a
// confirmation of what is being authorised. Every field check and the account step come first,
// so a malformed request never shows a window.
#include "card/transaction_record.h"
#include "control/card_control.h"

namespace ruzazuv {

using namespace transaction;

namespace {

// The remove-and-reinsert check. Returns true to go on; otherwise `code` is the detail or
// outcome code to refuse with. The procedure runs in full on every call.
bool pullPlugCheck(CardControl& control, std::int32_t* code) {
  if (control.process().readerListedNoPullPlug) return true;
  control.pullPlug().pullPlugPassed = false;
  const std::int32_t outcome = control.RunPullPlugProcedure();
  if (outcome == outcome::kPassed) return true;
  // The countdown ran out with the card never taken out: the person declined.
  *code = outcome == outcome::kNeverRemoved ? kUserDeclined : outcome;
  return false;
}

std::u16string firstThree(const std::u16string& value) {
  return value.substr(0, 3);
}

}  // namespace

std::int32_t CardControl::FiscCardTransfer() {
  std::int32_t ret = 0;
  if (!TransactionPrologue(narrow(Dispid::TransferTxnID), &ret)) return ret;
  text(Dispid::PCode).assign(text(Dispid::TransferTxnID).wide());

  std::string record = narrow(Dispid::TransferTxnID);
  if (const std::int32_t code =
          appendAmountFields(&record, narrow(Dispid::money), narrow(Dispid::FdId),
                             narrow(Dispid::FdChkCode), narrow(Dispid::DateTime));
      code != 0)
    return refuse(code);
  if (!appendField(&record, narrow(Dispid::ImprtAccnt), kImportAccountWidth))
    return refuse(kBadImportAccount);
  if (!SelectTransactionAccount(&record, &ret)) return ret;

  if (std::int32_t code = 0; !pullPlugCheck(*this, &code)) return refuse(code);

  const std::u16string transferOut =
      firstThree(text(Dispid::issueNo).wide()) + u"/" + text(Dispid::Account).wide();
  const std::u16string transferIn =
      firstThree(text(Dispid::AcceptNo).wide()) + u"/" + text(Dispid::ImprtAccnt).wide();
  // Only an explicit confirmation lets the record reach the card: a cancelled dialog, and a
  // dialog that could not be shown at all, are both a refusal.
  if (RunConfirmDialog(transferOut, transferIn, moneyDisplay_.wide()) != kConfirmed)
    return refuse(kUserDeclined);

  const PcscResult result = RequestTac(record, kTransferRecord.length, kTransferRecord.lc);
  if (result != pcsc_code::kSuccess) return result;
  EncryptOutput();
  return 0;
}

std::int32_t CardControl::FiscCardExpense() {
  std::int32_t ret = 0;
  if (!TransactionPrologue(narrow(Dispid::ExpenseTxnID), &ret)) return ret;
  text(Dispid::PCode).assign(text(Dispid::ExpenseTxnID).wide());

  std::string record = narrow(Dispid::ExpenseTxnID);
  if (const std::int32_t code =
          appendAmountFields(&record, narrow(Dispid::money), narrow(Dispid::FdId),
                             narrow(Dispid::FdChkCode), narrow(Dispid::DateTime));
      code != 0)
    return refuse(code);
  if (!SelectTransactionAccount(&record, &ret)) return ret;

  if (std::int32_t code = 0; !pullPlugCheck(*this, &code)) return refuse(code);

  const PcscResult result = RequestTac(record, kExpenseRecord.length, kExpenseRecord.lc);
  if (result != pcsc_code::kSuccess) return result;
  EncryptOutput();
  return 0;
}

}  // namespace ruzazuv
