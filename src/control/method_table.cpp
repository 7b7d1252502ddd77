#include "control/method_table.h"

#include "control/card_control.h"

namespace ruzazuv {

const std::array<MethodFn, kMaxDispid + 1>& methodTable() {
  static const std::array<MethodFn, kMaxDispid + 1> table = [] {
    std::array<MethodFn, kMaxDispid + 1> t{};
    const auto set = [&t](Dispid id, MethodFn fn) { t[static_cast<std::size_t>(id)] = fn; };
    set(Dispid::ConnectReader, &CardControl::ConnectReader);
    set(Dispid::ListReaders, &CardControl::ListReaders);
    set(Dispid::DisConnectReader, &CardControl::DisConnectReader);
    set(Dispid::GetCardStatus, &CardControl::GetCardStatus);
    set(Dispid::CheckCardInsert, &CardControl::CheckCardInsert);
    set(Dispid::GetStatus, &CardControl::GetStatus);
    set(Dispid::GetReaderStatus, &CardControl::GetReaderStatus);
    set(Dispid::ConnectCard, &CardControl::ConnectCard);
    set(Dispid::DisConnectCard, &CardControl::DisConnectCard);
    set(Dispid::ReConnectCard, &CardControl::ReConnectCard);
    set(Dispid::FiscListAccounts, &CardControl::FiscListAccounts);
    set(Dispid::FiscListImportAccounts, &CardControl::FiscListImportAccounts);
    set(Dispid::VerifyPIN, &CardControl::VerifyPIN);
    set(Dispid::ChangePIN, &CardControl::ChangePIN);
    set(Dispid::FiscCardInquiry, &CardControl::FiscCardInquiry);
    set(Dispid::FiscCardTransfer, &CardControl::FiscCardTransfer);
    set(Dispid::FiscCardTax, &CardControl::FiscCardTax);
    set(Dispid::FiscCardPayment, &CardControl::FiscCardPayment);
    set(Dispid::FiscCardExpense, &CardControl::FiscCardExpense);
    set(Dispid::FiscListTradeLog, &CardControl::FiscListTradeLog);
    set(Dispid::GenRandomNumber, &CardControl::GenRandomNumber);
    set(Dispid::AuthenServer, &CardControl::AuthenServer);
    return t;
  }();
  return table;
}

}  // namespace ruzazuv
