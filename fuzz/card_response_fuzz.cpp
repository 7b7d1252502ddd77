// Any answer a card can give: every operation of the control runs against a card whose every
// response comes from the fuzzer's input. Nothing may crash or read past a buffer.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "control/card_control.h"
#include "platform/clock.h"
#include "platform/simulated_pcsc.h"
#include "platform/system_timer.h"
#include "ui/scripted_dialog_host.h"

namespace {

using namespace ruzazuv;

// Answers each command with the next length-prefixed chunk of the input (up to 300 bytes, so
// answers longer than the control's receive capacity occur too).
class FuzzCard final : public SimulatedCard {
 public:
  FuzzCard(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::vector<std::uint8_t> atr() const override {
    return {0x3B, 0x80, 0x80, 0x01, 0x01};  // T=1 only
  }
  std::uint32_t protocols() const override { return kProtocolT1; }
  void reset() override {}
  std::vector<std::uint8_t> transmit(std::span<const std::uint8_t>) override {
    std::lock_guard lock(mutex_);
    if (pos_ + 2 > size_) return {0x90, 0x00};
    std::size_t length = (data_[pos_] << 8 | data_[pos_ + 1]) % 301;
    pos_ += 2;
    length = std::min(length, size_ - pos_);
    std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + length);
    pos_ += length;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  std::mutex mutex_;
};

class NullStream : public std::ostream {
 public:
  NullStream() : std::ostream(nullptr) {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static SystemClock clock;
  static SystemTimer timer;
  static TextCodec codec;
  static NullStream quiet;
  SimulatedPcsc pcsc;
  pcsc.addReader("Fuzz Reader");
  pcsc.insertCard("Fuzz Reader", std::make_shared<FuzzCard>(data, size));
  ScriptedDialogHost dialogs({ScriptedAction::kOk, ScriptedAction::kOk}, quiet);
  ProcessState process;
  CardControl c(ControlServices{pcsc, clock, timer, codec, &dialogs}, process, u"");
  c.setClientSite(std::nullopt);

  c.call(Dispid::ConnectReader);
  // Listed readers skip the pull-plug countdown, which would wait in real time.
  c.putText(Dispid::noPullPlugReader, u"Fuzz Reader");
  c.putText(Dispid::baReaderName, u"Fuzz Reader");
  c.call(Dispid::ConnectCard);
  c.putText(Dispid::baBuf, u"123456FFFFFFFFFF");
  c.putInt(Dispid::bPq, 0x10);
  c.putText(Dispid::money, u"150000");
  c.putText(Dispid::FdId, u"12345678");
  c.putText(Dispid::FdChkCode, u"87654321");
  c.putText(Dispid::DateTime, u"20261209101500");
  c.putText(Dispid::ImprtAccnt, u"0000123456789012");
  c.putText(Dispid::AcceptNo, u"812");
  c.putText(Dispid::PaymentType, u"15001");
  c.putText(Dispid::CancelNo, u"1234567890123456");
  c.putText(Dispid::MerchantID, u"MERCHANT0001");
  c.putText(Dispid::OptionData1, u"page data");
  const Dispid operations[] = {
      Dispid::FiscListAccounts, Dispid::FiscListImportAccounts,
      Dispid::FiscListTradeLog, Dispid::VerifyPIN,
      Dispid::FiscCardInquiry,  Dispid::VerifyPIN,
      Dispid::FiscCardTransfer, Dispid::FiscCardTax,
      Dispid::FiscCardPayment,  Dispid::FiscCardExpense,
      Dispid::GenRandomNumber,  Dispid::AuthenServer,
      Dispid::ChangePIN,        Dispid::GetStatus,
      Dispid::ReConnectCard,    Dispid::GetReaderStatus,
      Dispid::DisConnectCard,
  };
  for (Dispid op : operations) {
    c.call(op);
    // Every string property must still read back without trouble.
    for (const Member& m : memberTable())
      if (m.kind == MemberKind::kString) (void)c.getText(static_cast<Dispid>(m.dispid));
  }
  return 0;
}
