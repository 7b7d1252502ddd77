// CardControl: the one scriptable object a page drives through IVorn.
//
// Properties are reached through getProperty/putProperty by DISPID (the dispatch layer) or
// through the typed helpers (internal use and tests); methods through invoke or directly. Every
// method reports through its result (`ret`) and properties and never throws.
//
// The operations of the subsystems are member functions defined in their own files:
// reader/ (context and connection), apdu/ (the channel), card/ (the financial application),
// crypto/ (output cipher), ui/ (dialogs and the pull-plug procedure); the special accessors in
// control/property_accessors.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "control/control_services.h"
#include "control/dispatch_result.h"
#include "control/member_table.h"
#include "control/process_state.h"
#include "control/result_codes.h"
#include "control/text_value.h"
#include "ui/pull_plug_state.h"

namespace ruzazuv {

class OutputCipher;

// The bank's online-banking address that pages must start with to run transactions.
inline constexpr std::u16string_view kDefaultSiteAddress = u"https://ebank.ruzazuv.example/";

class CardControl {
 public:
  CardControl(ControlServices services, ProcessState& process,
              std::u16string_view siteAddress = kDefaultSiteAddress);
  ~CardControl();
  CardControl(const CardControl&) = delete;
  CardControl& operator=(const CardControl&) = delete;

  // --- Dispatch surface -------------------------------------------------------------------
  HResult getProperty(int dispid, PropertyValue* out) const;
  HResult putProperty(int dispid, const PropertyValue& value);
  HResult invoke(int dispid, std::int32_t* ret);

  // The container hands the control its client site: the hosting page's address (none when
  // the client is no page) decides siteApproved.
  void setClientSite(const std::optional<std::u16string>& pageAddress);

  // Typed helpers with the same get/put rules as the dispatch surface.
  std::u16string getText(Dispid id) const;
  void putText(Dispid id, std::u16string_view value);
  void putNullableText(Dispid id, const std::optional<std::u16string>& value);
  std::int32_t getInt(Dispid id) const;
  void putInt(Dispid id, std::int32_t value);
  std::int32_t call(Dispid id);

  // --- IVorn methods (each returns `ret`) ---------------------------------------------------
  // Reader context (reader/reader_context.cpp)
  std::int32_t ConnectReader();
  std::int32_t ListReaders();
  std::int32_t DisConnectReader();
  std::int32_t GetCardStatus();
  std::int32_t CheckCardInsert();
  std::int32_t GetStatus();
  std::int32_t GetReaderStatus();
  // Card connection (reader/card_connection.cpp)
  std::int32_t ConnectCard();
  std::int32_t DisConnectCard();
  std::int32_t ReConnectCard();
  // Account records (card/account_records.cpp)
  std::int32_t FiscListAccounts();
  std::int32_t FiscListImportAccounts();
  // PIN management (card/pin_management.cpp)
  std::int32_t VerifyPIN();
  std::int32_t ChangePIN();
  // Transactions (card/transaction_*.cpp)
  std::int32_t FiscCardInquiry();
  std::int32_t FiscCardTransfer();
  std::int32_t FiscCardTax();
  std::int32_t FiscCardPayment();
  std::int32_t FiscCardExpense();
  // Trade log (card/trade_log.cpp)
  std::int32_t FiscListTradeLog();
  // Server authentication (card/server_authentication.cpp)
  std::int32_t GenRandomNumber();
  std::int32_t AuthenServer();

  // --- Internal operations shared across subsystems ------------------------------------------
  // APDU channel (apdu/apdu_channel.cpp). Fragments are hex text; lc/le absent = not sent.
  PcscResult TransmitApdu(std::string_view cla, std::string_view ins, std::string_view p1,
                          std::string_view p2, std::optional<std::string_view> lc = std::nullopt,
                          std::string_view data = {},
                          std::optional<std::string_view> le = std::nullopt);
  // Fields cut from recvBuffer: as narrow text ending at a zero byte, or as upper-case hex.
  std::string ResponseText(std::size_t offset, std::size_t count) const;
  std::string ResponseHex(std::size_t offset, std::size_t count) const;
  // Card connection helper: selects file `fileId` and reads record `record` (both hex text).
  Text ReadCardIdentity(std::string_view fileId, std::string_view record);
  // PIN management helper: VERIFY with the stored PIN block (0, PC/SC result, or -1001).
  std::int32_t ReverifyStoredPin();
  // Output protection: OptionData1 := hex(AES(TAC || OptionData1)); returns false when the
  // cipher refused (both inputs empty), leaving OptionData1 empty.
  bool EncryptOutput();
  // User-presence checks (ui/)
  std::int32_t RunPullPlugProcedure();
  std::int32_t RunConfirmDialog(std::u16string_view transferOut, std::u16string_view transferIn,
                                std::u16string_view amount);

  // --- Observers for hosts and tests -------------------------------------------------------
  bool siteApproved() const { return siteApproved_; }
  const std::u16string& siteAddress() const { return siteAddress_; }
  const std::u16string& moneyDisplay() const { return moneyDisplay_.wide(); }
  std::int32_t pinLength() const { return pinLength_; }
  std::uint32_t recvLength() const { return recvLength_; }
  const std::array<std::uint8_t, 1024>& recvBuffer() const { return recvBuffer_; }
  const std::array<std::uint8_t, 1024>& sendBuffer() const { return sendBuffer_; }
  PullPlugState& pullPlug() { return pullPlug_; }
  ProcessState& process() { return process_; }
  const ControlServices& services() const { return services_; }

  static constexpr std::int32_t kRefused = kRefusedResult;

 private:
  friend class PullPlugProcedure;

  Text& text(Dispid id) { return texts_[static_cast<std::size_t>(id)]; }
  const Text& text(Dispid id) const { return texts_[static_cast<std::size_t>(id)]; }
  std::int32_t& integer(Dispid id) { return ints_[static_cast<std::size_t>(id)]; }
  std::int32_t integer(Dispid id) const { return ints_[static_cast<std::size_t>(id)]; }
  const std::string& narrow(Dispid id) const { return text(id).narrow(services_.codec); }
  void setNarrow(Dispid id, std::string_view value) {
    text(id).assignNarrow(value, services_.codec);
  }
  // The n-th member after `first` (account0 + 3 is account3).
  static Dispid offset(Dispid first, int n) {
    return static_cast<Dispid>(static_cast<int>(first) + n);
  }
  std::int32_t refuse(std::int32_t detailCode);  // uiSW12 := code, ret -1001

  // Special accessors (control/property_accessors.cpp)
  void putReaderName(const std::optional<std::u16string>& value);
  void putPin(const std::optional<std::u16string>& value);
  void putMoney(const std::optional<std::u16string>& value);
  void putMerchantId(const std::optional<std::u16string>& value);

  // Transaction steps (card/transaction_*.cpp)
  bool TransactionPrologue(std::string_view transactionCode, std::int32_t* ret);
  bool SelectTransactionAccount(std::string* record, std::int32_t* ret);
  PcscResult RequestTac(const std::string& record, std::size_t length, std::string_view lc);
  void UpdateStatusWord();

  ControlServices services_;
  ProcessState& process_;

  std::array<Text, kMaxDispid + 1> texts_;
  std::array<std::int32_t, kMaxDispid + 1> ints_{};

  // Members shared by the subsystems.
  std::array<std::uint8_t, 1024> sendBuffer_{};
  std::array<std::uint8_t, 1024> recvBuffer_{};
  std::uint32_t recvLength_ = 272;
  ReaderState readerState_{};
  std::uint32_t shareMode_ = kShareShared;
  std::uint32_t preferredProtocols_ = kProtocolT1;
  std::int32_t pinLength_ = 0;
  Text moneyDisplay_ = Text::empty();
  bool siteApproved_ = false;
  std::u16string siteAddress_;
  std::unique_ptr<OutputCipher> cipher_;
  PullPlugState pullPlug_;
};

}  // namespace ruzazuv
