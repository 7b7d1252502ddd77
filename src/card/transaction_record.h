// What the five authorisation operations share besides the CardControl steps: the record widths and
// the field-by-field assembly of a transaction record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "control/result_codes.h"

namespace ruzazuv::transaction {

// The detail codes of control/result_codes.h, by their plain names.
using namespace detail_code;
// A transaction code shorter than its four characters would leave the record short of the
// length the command announces. Like an account index that chooses no account, it is a record
// that cannot be completed, so it shares that code.
inline constexpr std::int32_t kShortTransactionCode = kBadAccount;

// Results of the confirmation dialog.
inline constexpr std::int32_t kConfirmed = 1;

// Field widths in bytes of the record (the narrow form of the property).
inline constexpr std::size_t kTransactionCodeWidth = 4;
inline constexpr std::size_t kMoneyWidth = 14;
inline constexpr std::size_t kFdIdWidth = 8;
inline constexpr std::size_t kCheckCodeWidth = 8;
inline constexpr std::size_t kDateTimeWidth = 14;
inline constexpr std::size_t kImportAccountWidth = 16;
inline constexpr std::size_t kPaymentTypeWidth = 5;
inline constexpr std::size_t kCancelNoWidth = 16;
inline constexpr std::size_t kMerchantIdWidth = 30;
inline constexpr std::size_t kAccountWidth = 16;

// Record lengths and the Lc that announces each.
struct RecordKind {
  std::size_t length;
  std::string_view lc;
};
inline constexpr RecordKind kInquiryRecord{28, "1C"};
inline constexpr RecordKind kTransferRecord{80, "50"};
inline constexpr RecordKind kTaxRecord{85, "55"};
inline constexpr RecordKind kPaymentRecord{94, "5E"};
inline constexpr RecordKind kExpenseRecord{64, "40"};

// The fixed transaction code of a payment.
inline constexpr std::string_view kPaymentCode = "2541";

// The stored PIN block holds a PIN of 6 to 12 digits: its first F lies at index 6 to 12. An
// empty store, or one without any F, has no usable PIN.
inline bool storedPinUsable(std::u16string_view block) {
  const std::size_t firstF = block.find(u'F');
  return firstF != std::u16string_view::npos && firstF >= 6 && firstF <= 12;
}

// Appends `value` to the record and tells whether it had exactly `width` bytes. The value is
// appended either way, as the record is abandoned on a wrong width.
inline bool appendField(std::string* record, std::string_view value, std::size_t width) {
  record->append(value);
  return value.size() == width;
}

// Appends the fields that follow the transaction code in every record but the inquiry's:
// money, FdId, FdChkCode and the date and time, each checked right after it is appended.
// Returns the detail code of the first field of wrong width, or 0.
inline std::int32_t appendAmountFields(std::string* record, std::string_view money,
                                       std::string_view fdId, std::string_view checkCode,
                                       std::string_view dateTime) {
  if (!appendField(record, money, kMoneyWidth)) return kBadMoney;
  if (!appendField(record, fdId, kFdIdWidth)) return kBadFdId;
  if (!appendField(record, checkCode, kCheckCodeWidth)) return kBadCheckCode;
  if (!appendField(record, dateTime, kDateTimeWidth)) return kBadDateTime;
  return 0;
}

}  // namespace ruzazuv::transaction
