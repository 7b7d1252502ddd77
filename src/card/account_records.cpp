// The customer's own accounts (file 1001) and the registered transfer-in accounts (file 1002).
#include <array>

#include "apdu/hex_codec.h"
#include "control/card_control.h"

namespace ruzazuv {
namespace {

// Every record carries two header bytes before its field.
constexpr std::size_t kFieldOffset = 2;
constexpr std::size_t kIssueNumberLength = 8;
constexpr std::size_t kRemarkLength = 30;
constexpr std::size_t kAccountLength = 16;
constexpr std::size_t kImportAccountLength = 24;

// The transfer-in accounts live in records 1 to 7 and 10; records 8 and 9 are not the page's.
constexpr std::array<int, 8> kImportAccountRecords = {1, 2, 3, 4, 5, 6, 7, 10};

std::string recordNumber(int n) {
  const auto b = static_cast<std::uint8_t>(n);
  return BytesToHex(&b, 1);
}

}  // namespace

std::int32_t CardControl::FiscListAccounts() {
  PcscResult result = TransmitApdu("00", "A4", "02", "00", "02", "1001");
  if (result != pcsc_code::kSuccess) return result;

  for (int n = 1; n <= 10; ++n) {
    result = TransmitApdu("00", "B2", recordNumber(n), "04", std::nullopt, {}, "00");
    if (result != pcsc_code::kSuccess) return result;
    // An answer of the status word alone carries no record: the property keeps its value.
    if (recvLength_ <= 2) continue;
    if (n == 1) {
      setNarrow(Dispid::issueNo, ResponseText(kFieldOffset, kIssueNumberLength));
    } else if (n == 2) {
      setNarrow(Dispid::Remark, ResponseHex(kFieldOffset, kRemarkLength));
    } else {
      setNarrow(offset(Dispid::account0, n - 3), ResponseText(kFieldOffset, kAccountLength));
    }
  }
  return 0;
}

std::int32_t CardControl::FiscListImportAccounts() {
  PcscResult result = TransmitApdu("00", "A4", "02", "00", "02", "1002");
  if (result != pcsc_code::kSuccess) return result;

  for (std::size_t i = 0; i < kImportAccountRecords.size(); ++i) {
    result = TransmitApdu("00", "B2", recordNumber(kImportAccountRecords[i]), "04", std::nullopt,
                          {}, "00");
    if (result != pcsc_code::kSuccess) return result;
    if (recvLength_ <= 2) continue;
    setNarrow(offset(Dispid::importaccount0, static_cast<int>(i)),
              ResponseText(kFieldOffset, kImportAccountLength));
  }
  return 0;
}

}  // namespace ruzazuv
