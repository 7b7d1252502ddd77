// The inquiry, tax payment and merchant payment against the simulated card: the records the card
// receives, the order of the refusals, the response fields and the protected output.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apdu/hex_codec.h"
#include "support/control_harness.h"
#include "support/fake_clock.h"
#include "support/scripted_card.h"

namespace ruzazuv::testing {
namespace {

constexpr std::int32_t kTransmitFailed = static_cast<std::int32_t>(0x80100016);  // not transacted

// AES-128-ECB of `plain` padded with the character 0 to whole blocks, computed with OpenSSL
// under the control's output key, as upper-case hex.
std::string expectedOutput(std::string plain) {
  static constexpr unsigned char kKey[] = "5e0b7c19d2a4f836";
  if (plain.size() % 16 != 0) plain.append(16 - plain.size() % 16, '0');
  std::vector<unsigned char> out(plain.size() + 16);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int n = 0;
  int tail = 0;
  EXPECT_EQ(EVP_EncryptInit_ex(ctx, EVP_aes_128_ecb(), nullptr, kKey, nullptr), 1);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EXPECT_EQ(
      EVP_EncryptUpdate(ctx, out.data(), &n, reinterpret_cast<const unsigned char*>(plain.data()),
                        static_cast<int>(plain.size())),
      1);
  EXPECT_EQ(EVP_EncryptFinal_ex(ctx, out.data() + n, &tail), 1);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<std::size_t>(n + tail));
  return hexOf(out);
}

std::vector<std::uint8_t> asBytes(const std::string& s) {
  return {s.begin(), s.end()};
}

std::string narrowOf(const std::u16string& s) {
  return std::string(s.begin(), s.end());
}

class TransactionTest : public ::testing::Test {
 protected:
  TransactionTest() : h(&clock) {}

  void SetUp() override {
    clock.setLocalTime({2026, 3, 7, 9, 5, 3});
    h.site(u"https://EBANK.ruzazuv.example/online/pay");
    ASSERT_TRUE(c().siteApproved());
    h.connectAndVerify();
    fillFields();
  }

  // Well-formed inputs for every operation.
  void fillFields() {
    c().putText(Dispid::money, u"150000");
    c().putText(Dispid::FdId, u"FD000001");
    c().putText(Dispid::FdChkCode, u"CHK00001");
    c().putText(Dispid::DateTime, u"20250101120000");
    c().putText(Dispid::PaymentType, u"TAX01");
    c().putText(Dispid::CancelNo, u"CN00000000000042");
    c().putText(Dispid::MerchantID, u"MERCHANT0012");
    c().putText(Dispid::OptionData1, u"PAGEDATA");
    c().putInt(Dispid::curAccntIndex, 3);
    h.clearCommands();
  }

  CardControl& c() { return h.control(); }

  // Puts `card` into the reader in place of the simulated card and connects to it afresh.
  void useCard(std::shared_ptr<SimulatedCard> card) {
    ASSERT_EQ(c().call(Dispid::DisConnectCard), 0);
    h.pcsc.insertCard(kReader, std::move(card));
    h.connectAndVerify();
    h.clearCommands();
  }

  std::string get(Dispid id) { return narrowOf(c().getText(id)); }

  // The transaction record of the authorisation command sent since the last clearCommands(),
  // after checking the command's frame (00 E2 10 80, Lc, the record, Le 00).
  std::optional<std::string> recordSent(std::uint8_t expectedLc) {
    std::optional<std::string> found;
    for (const auto& cmd : h.commands()) {
      if (cmd.size() < 2 || cmd[1] != 0xE2) continue;
      EXPECT_FALSE(found) << "more than one authorisation command";
      EXPECT_EQ(hexOf({cmd.begin(), cmd.begin() + 4}), "00E21080");
      EXPECT_EQ(cmd[4], expectedLc);
      EXPECT_EQ(cmd.size(), 6u + cmd[4]);
      EXPECT_EQ(cmd.back(), 0x00);
      found = std::string(cmd.begin() + 5, cmd.end() - 1);
    }
    return found;
  }

  bool authorisationSent() {
    for (const auto& cmd : h.commands())
      if (cmd.size() >= 2 && cmd[1] == 0xE2) return true;
    return false;
  }

  // The INS bytes of the commands sent since the last clearCommands().
  std::vector<std::uint8_t> instructions() {
    std::vector<std::uint8_t> out;
    for (const auto& cmd : h.commands()) out.push_back(cmd.at(1));
    return out;
  }

  std::string account(int n) { return h.card->profile().accounts.at(static_cast<std::size_t>(n)); }

  FakeClock clock;
  ControlHarness h;
};

// ---- Records as the card receives them ----

TEST_F(TransactionTest, InquiryAuthorisesCodeCheckCodeAndChosenAccount) {
  ASSERT_EQ(c().call(Dispid::FiscCardInquiry), 0);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x9000);

  const auto record = recordSent(0x1C);
  ASSERT_TRUE(record);
  EXPECT_EQ(*record, "2500CHK00001" + account(2));
  // The stored PIN is verified again, the accounts re-read, then the card authorises.
  std::vector<std::uint8_t> expected = {0x20, 0xA4};
  expected.insert(expected.end(), 10, 0xB2);
  expected.push_back(0xE2);
  EXPECT_EQ(instructions(), expected);
  EXPECT_EQ(hexOf(h.commands().front()), "0020001008123456FFFFFFFFFF");

  const std::string tac = hexOf(h.card->tacFor(asBytes(*record)));
  EXPECT_EQ(get(Dispid::Account), account(2));
  EXPECT_EQ(get(Dispid::ICC), h.card->profile().icc);
  EXPECT_EQ(get(Dispid::TACLen), "8");
  EXPECT_EQ(get(Dispid::TAC), tac);
  EXPECT_EQ(get(Dispid::PCode), "2500");
  EXPECT_EQ(get(Dispid::OptionData1), expectedOutput(tac + "PAGEDATA"));
  EXPECT_EQ(get(Dispid::OptionData1).size(), 64u);  // 16 + 8 characters make two blocks
}

TEST_F(TransactionTest, TaxRecordCarriesEveryFieldAtItsOffset) {
  c().putText(Dispid::PCode, u"----");
  ASSERT_EQ(c().call(Dispid::FiscCardTax), 0);
  const auto record = recordSent(0x55);
  ASSERT_TRUE(record);
  ASSERT_EQ(record->size(), 85u);
  EXPECT_EQ(record->substr(0, 4), "2521");
  EXPECT_EQ(record->substr(4, 14), "00000000150000");
  EXPECT_EQ(record->substr(18, 8), "FD000001");
  EXPECT_EQ(record->substr(26, 8), "CHK00001");
  EXPECT_EQ(record->substr(34, 14), "20250101120000");
  EXPECT_EQ(record->substr(48, 5), "TAX01");
  EXPECT_EQ(record->substr(53, 16), account(2));
  EXPECT_EQ(record->substr(69, 16), "CN00000000000042");
  EXPECT_EQ(get(Dispid::PCode), "2521");
  EXPECT_EQ(get(Dispid::TAC), hexOf(h.card->tacFor(asBytes(*record))));
  EXPECT_EQ(get(Dispid::OptionData1), expectedOutput(get(Dispid::TAC) + "PAGEDATA"));

  // The tax payment uses whatever TransferTxnID holds.
  c().putText(Dispid::TransferTxnID, u"2599");
  h.clearCommands();
  ASSERT_EQ(c().call(Dispid::FiscCardTax), 0);
  EXPECT_EQ(recordSent(0x55)->substr(0, 4), "2599");
  EXPECT_EQ(get(Dispid::PCode), "2599");
}

TEST_F(TransactionTest, PaymentDatesItselfAndPadsTheMerchant) {
  c().putText(Dispid::TransferTxnID, u"9999");
  c().putText(Dispid::ExpenseTxnID, u"8888");
  ASSERT_EQ(c().call(Dispid::FiscCardPayment), 0);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x9000);
  const auto record = recordSent(0x5E);
  ASSERT_TRUE(record);
  ASSERT_EQ(record->size(), 94u);
  EXPECT_EQ(record->substr(0, 4), "2541");
  EXPECT_EQ(record->substr(4, 14), "00000000150000");
  EXPECT_EQ(record->substr(18, 8), "FD000001");
  EXPECT_EQ(record->substr(26, 8), "CHK00001");
  // The page's DateTime is replaced by the control's local time.
  EXPECT_EQ(record->substr(34, 14), "20260307090503");
  EXPECT_EQ(get(Dispid::DateTime), "20260307090503");
  EXPECT_EQ(record->substr(48, 30), std::string(18, '0') + "MERCHANT0012");
  EXPECT_EQ(record->substr(78, 16), account(2));
  EXPECT_EQ(get(Dispid::PCode), "2541");

  clock.setLocalTime({2031, 12, 31, 23, 59, 58});
  h.clearCommands();
  ASSERT_EQ(c().call(Dispid::FiscCardPayment), 0);
  EXPECT_EQ(recordSent(0x5E)->substr(34, 14), "20311231235958");
}

TEST_F(TransactionTest, PaymentYearOfFiveDigitsIsRefusedAfterDatingTheCall) {
  clock.setLocalTime({10000, 1, 2, 3, 4, 5});
  c().putText(Dispid::PCode, u"----");
  EXPECT_EQ(c().call(Dispid::FiscCardPayment), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1006);
  EXPECT_EQ(get(Dispid::DateTime), "100000102030405");
  EXPECT_EQ(get(Dispid::PCode), "2541");
  EXPECT_FALSE(authorisationSent());
}

TEST_F(TransactionTest, TransactionCodeLongerThanFourPushesTheTailOut) {
  c().putText(Dispid::InquiryTxnID, u"250077");
  ASSERT_EQ(c().call(Dispid::FiscCardInquiry), 0);
  const std::string full = "250077CHK00001" + account(2);
  EXPECT_EQ(*recordSent(0x1C), full.substr(0, 28));
  EXPECT_EQ(get(Dispid::PCode), "250077");
}

TEST_F(TransactionTest, ShortTransactionCodeIsRefusedBeforeAnyCommand) {
  c().putText(Dispid::PCode, u"----");
  c().putText(Dispid::InquiryTxnID, u"250");
  EXPECT_EQ(c().call(Dispid::FiscCardInquiry), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1005);

  c().putText(Dispid::TransferTxnID, u"");
  c().putInt(Dispid::uiSW12, 0);
  EXPECT_EQ(c().call(Dispid::FiscCardTax), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1005);

  EXPECT_TRUE(h.commands().empty());
  EXPECT_EQ(get(Dispid::PCode), "----");
  // The payment's code is its own, so the page's codes do not matter to it.
  EXPECT_EQ(c().call(Dispid::FiscCardPayment), 0);
}

// ---- Order of the refusals ----

// One way to make a check fail, and the detail code it gives.
struct Breaker {
  const char* what;
  std::function<void(CardControl&)> apply;
  std::int32_t code;
};

Breaker text(const char* what, Dispid id, std::u16string bad, std::int32_t code) {
  return {what, [id, bad](CardControl& c) { c.putText(id, bad); }, code};
}

const Breaker kMoney = text("money", Dispid::money, u"123456789012345", 1008);
const Breaker kFdId = text("FdId", Dispid::FdId, u"FD00001", 1009);
const Breaker kCheckCode = text("FdChkCode", Dispid::FdChkCode, u"CHK000001", 1004);
const Breaker kDateTime = text("DateTime", Dispid::DateTime, u"2025010112000", 1006);
const Breaker kPaymentType = text("PaymentType", Dispid::PaymentType, u"TAX1", 1010);
const Breaker kCancelNo = text("CancelNo", Dispid::CancelNo, u"CN0000000000004", 1011);
const Breaker kMerchant =
    text("MerchantID", Dispid::MerchantID, u"M000000000000000000000000000001", 1012);
const Breaker kAccount = {"account", [](CardControl& c) { c.putInt(Dispid::curAccntIndex, 0); },
                          1005};

class RefusalOrderTest : public TransactionTest {
 protected:
  // Breaks the checks from the i-th on, all at once: the i-th one's code must come out, so each
  // check runs before every check after it. Every one of these refusals comes after the
  // re-verification and before any authorisation.
  void expectOrder(Dispid method, const std::vector<Breaker>& checks) {
    for (std::size_t i = 0; i < checks.size(); ++i) {
      SCOPED_TRACE(checks[i].what);
      fillFields();
      h.clearCommands();
      for (std::size_t k = i; k < checks.size(); ++k) checks[k].apply(c());
      c().putInt(Dispid::uiSW12, 0);
      EXPECT_EQ(c().call(method), CardControl::kRefused);
      EXPECT_EQ(c().getInt(Dispid::uiSW12), checks[i].code);
      ASSERT_FALSE(h.commands().empty());
      EXPECT_EQ(h.commands().front().at(1), 0x20);
      EXPECT_FALSE(authorisationSent());
    }
  }
};

TEST_F(RefusalOrderTest, InquiryChecksCheckCodeThenAccount) {
  expectOrder(Dispid::FiscCardInquiry, {kCheckCode, kAccount});
}

TEST_F(RefusalOrderTest, TaxChecksEachFieldInRecordOrder) {
  expectOrder(Dispid::FiscCardTax,
              {kMoney, kFdId, kCheckCode, kDateTime, kPaymentType, kAccount, kCancelNo});
}

TEST_F(RefusalOrderTest, PaymentChecksEachFieldInRecordOrder) {
  // The payment's DateTime is its own, so a put cannot break it.
  expectOrder(Dispid::FiscCardPayment, {kMoney, kFdId, kCheckCode, kMerchant, kAccount});
}

TEST_F(TransactionTest, CheckCodeIsReportedAfterTheReverificationOnly) {
  c().putText(Dispid::FdChkCode, u"CHK0001");
  EXPECT_EQ(c().call(Dispid::FiscCardInquiry), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1004);
  EXPECT_EQ(instructions(), std::vector<std::uint8_t>{0x20});
}

TEST_F(TransactionTest, EmptyChosenAccountIsRefusedAfterTheListWasRead) {
  // account7 is missing on the card: curAccntIndex 8 then chooses an empty account.
  sim::CardFaults faults;
  faults.missingRecords[0x1001] = {10};
  h.card->setFaults(faults);
  c().putInt(Dispid::curAccntIndex, 8);
  c().putText(Dispid::Account, u"1234567890123456");
  EXPECT_EQ(c().call(Dispid::FiscCardInquiry), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1005);
  EXPECT_EQ(instructions().size(), 12u);  // VERIFY, SELECT and the ten reads
  EXPECT_FALSE(authorisationSent());
  EXPECT_EQ(get(Dispid::Account), "");
}

TEST_F(TransactionTest, AccountIndexOutsideTheCardsAccountsSendsNoAccountCommand) {
  for (std::int32_t index : {0, 9, -1}) {
    SCOPED_TRACE(index);
    h.clearCommands();
    c().putInt(Dispid::curAccntIndex, index);
    // A well-formed Account put by the page is not used in place of a card account.
    c().putText(Dispid::Account, u"1234567890123456");
    for (Dispid method : {Dispid::FiscCardInquiry, Dispid::FiscCardTax, Dispid::FiscCardPayment}) {
      c().putInt(Dispid::uiSW12, 0);
      EXPECT_EQ(c().call(method), CardControl::kRefused);
      EXPECT_EQ(c().getInt(Dispid::uiSW12), 1005);
    }
    // Only the three re-verifications reached the card.
    EXPECT_EQ(instructions(), (std::vector<std::uint8_t>{0x20, 0x20, 0x20}));
    EXPECT_EQ(get(Dispid::Account), "1234567890123456");
  }
}

TEST_F(TransactionTest, TaxSetsCodeAndAccountBeforeALaterCheckFails) {
  c().putText(Dispid::PCode, u"----");
  c().putText(Dispid::Account, u"");
  c().putText(Dispid::CancelNo, u"CN0000000000004");
  EXPECT_EQ(c().call(Dispid::FiscCardTax), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1011);
  EXPECT_EQ(get(Dispid::PCode), "2521");
  EXPECT_EQ(get(Dispid::Account), account(2));
  EXPECT_FALSE(authorisationSent());
}

// ---- The opening checks ----

TEST_F(TransactionTest, UnapprovedPageIsRefusedBeforeEverythingElse) {
  ControlHarness other(&clock);
  other.site(u"https://phish.example/ebank.ruzazuv.example/");
  other.connect();
  other.clearCommands();
  // No PIN is stored either: the page check comes first.
  for (Dispid method : {Dispid::FiscCardInquiry, Dispid::FiscCardTax, Dispid::FiscCardPayment}) {
    other.control().putInt(Dispid::uiSW12, 0);
    EXPECT_EQ(other.control().call(method), CardControl::kRefused);
    EXPECT_EQ(other.control().getInt(Dispid::uiSW12), 1016);
  }
  EXPECT_TRUE(other.commands().empty());
}

TEST_F(TransactionTest, StoredPinOutsideSixToTwelveDigitsIsRefusedWithoutExchange) {
  for (const std::u16string pin : {u"12345", u"1234567890123", u""}) {
    c().putText(Dispid::Pin, pin);
    for (Dispid method : {Dispid::FiscCardInquiry, Dispid::FiscCardTax, Dispid::FiscCardPayment}) {
      c().putInt(Dispid::uiSW12, 0);
      EXPECT_EQ(c().call(method), CardControl::kRefused);
      EXPECT_EQ(c().getInt(Dispid::uiSW12), 1018);
    }
  }
  // A block without any F has no PIN length at all.
  c().putText(Dispid::baBuf, u"1234567890123456");
  ASSERT_EQ(c().VerifyPIN(), 0);
  h.clearCommands();
  EXPECT_EQ(c().call(Dispid::FiscCardInquiry), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1018);
  EXPECT_TRUE(h.commands().empty());
}

TEST_F(TransactionTest, WrongStoredPinEndsTaxWithTheCardsVerdictButPaymentWithItsOwnCode) {
  c().putText(Dispid::Pin, u"654321");
  c().putText(Dispid::PCode, u"----");

  EXPECT_EQ(c().call(Dispid::FiscCardTax), 0);
  const auto calls = h.pcsc.calls();
  ASSERT_FALSE(calls.empty());
  const auto& answer = calls.back().response;
  ASSERT_EQ(answer.size(), 2u);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), answer[0] * 256 + answer[1]);
  EXPECT_EQ(answer[0], 0x63);
  EXPECT_EQ(instructions(), std::vector<std::uint8_t>{0x20});
  EXPECT_EQ(get(Dispid::PCode), "----");

  EXPECT_EQ(c().call(Dispid::FiscCardInquiry), 0);
  EXPECT_EQ(c().getInt(Dispid::uiSW12) >> 8, 0x63);

  h.clearCommands();
  EXPECT_EQ(c().call(Dispid::FiscCardPayment), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1003);
  EXPECT_EQ(instructions(), std::vector<std::uint8_t>{0x20});
  // The payment stops before it dates itself or names its code.
  EXPECT_EQ(get(Dispid::DateTime), "20250101120000");
  EXPECT_EQ(get(Dispid::PCode), "----");
}

TEST_F(TransactionTest, ReaderFailureDuringReverificationIsPassedOnExceptByPayment) {
  h.pcsc.failCall("transmit", kTransmitFailed, 1);
  EXPECT_EQ(c().call(Dispid::FiscCardInquiry), kTransmitFailed);
  h.pcsc.failCall("transmit", kTransmitFailed, 1);
  EXPECT_EQ(c().call(Dispid::FiscCardPayment), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1003);
  EXPECT_TRUE(h.commands().empty());
}

// ---- The card's answer ----

TEST_F(TransactionTest, ReaderFailureOnTheAuthorisationLeavesEveryOutput) {
  ASSERT_EQ(c().call(Dispid::FiscCardInquiry), 0);
  const std::string icc = get(Dispid::ICC);
  const std::string tac = get(Dispid::TAC);
  const std::string output = get(Dispid::OptionData1);
  c().putText(Dispid::FdChkCode, u"CHK00002");
  // VERIFY, SELECT and ten reads go through; the authorisation fails.
  h.pcsc.failCall("transmit", kTransmitFailed, 1, 12);
  EXPECT_EQ(c().call(Dispid::FiscCardTax), kTransmitFailed);
  EXPECT_EQ(get(Dispid::ICC), icc);
  EXPECT_EQ(get(Dispid::TAC), tac);
  EXPECT_EQ(get(Dispid::OptionData1), output);
}

TEST_F(TransactionTest, StatusOnlyAnswerKeepsTheTacButEnciphersAgain) {
  ASSERT_EQ(c().call(Dispid::FiscCardInquiry), 0);
  const std::string icc = get(Dispid::ICC);
  const std::string tac = get(Dispid::TAC);
  c().putText(Dispid::PCode, u"----");

  sim::CardFaults faults;
  faults.authorisationStatusOnly = true;
  faults.authorisationStatus = 0x6985;
  h.card->setFaults(faults);
  c().putText(Dispid::OptionData1, u"NEXTPAGEDATA");
  EXPECT_EQ(c().call(Dispid::FiscCardInquiry), 0);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x6985);
  EXPECT_EQ(get(Dispid::ICC), icc);
  EXPECT_EQ(get(Dispid::TACLen), "8");
  EXPECT_EQ(get(Dispid::TAC), tac);
  EXPECT_EQ(get(Dispid::PCode), "----");  // the inquiry names its code only with data
  EXPECT_EQ(get(Dispid::OptionData1), expectedOutput(tac + "NEXTPAGEDATA"));

  c().putText(Dispid::OptionData1, u"");
  EXPECT_EQ(c().call(Dispid::FiscCardPayment), 0);
  EXPECT_EQ(get(Dispid::TAC), tac);
  EXPECT_EQ(get(Dispid::PCode), "2541");
  EXPECT_EQ(get(Dispid::OptionData1), expectedOutput(tac));
}

// An authorisation answer with `lengthField` (four hex digits) and `tacBytes` bytes of TAC.
std::string authorisationAnswer(const std::string& lengthField, std::size_t tacBytes) {
  std::string answer = "00" + hexOf(asBytes("IC999999")) + lengthField;
  for (std::size_t i = 0; i < tacBytes; ++i) answer += hexOf({static_cast<std::uint8_t>(0xA0 + i)});
  return answer + "9000";
}

TEST_F(TransactionTest, TacLengthIsBinaryCodedDecimal) {
  auto scripted = std::make_shared<ScriptedCard>(h.card);
  useCard(scripted);
  const std::string command = "00E210801C" + hexOf(asBytes("2500CHK00001" + account(2))) + "00";
  struct Case {
    std::string field;
    std::string tacLen;
  };
  for (const Case& k : std::vector<Case>{{"0016", "16"},
                                         {"0012", "12"},  // not 0x12
                                         {"0008", "8"},
                                         {"1A00", "1"},  // the reading stops at A
                                         {"0A16", "0"}}) {
    SCOPED_TRACE(k.field);
    scripted->answer(command, authorisationAnswer(k.field, 16));
    ASSERT_EQ(c().call(Dispid::FiscCardInquiry), 0);
    EXPECT_EQ(get(Dispid::ICC), "IC999999");
    EXPECT_EQ(get(Dispid::TACLen), k.tacLen);
    const auto n = static_cast<std::size_t>(std::stoi(k.tacLen));
    EXPECT_EQ(get(Dispid::TAC), authorisationAnswer("", n).substr(18, 2 * n));
  }
}

TEST_F(TransactionTest, TacLengthBeyondTheReceivedBytesTakesWhatArrived) {
  sim::CardFaults faults;
  faults.tacLengthField = 0x0016;  // the card still sends its 8 bytes
  h.card->setFaults(faults);
  ASSERT_EQ(c().call(Dispid::FiscCardInquiry), 0);
  const auto record = recordSent(0x1C);
  ASSERT_TRUE(record);
  EXPECT_EQ(get(Dispid::TACLen), "8");
  EXPECT_EQ(get(Dispid::TAC), hexOf(h.card->tacFor(asBytes(*record))));

  // An answer whose data ends before the TAC yields no TAC at all.
  auto scripted = std::make_shared<ScriptedCard>(h.card);
  useCard(scripted);
  scripted->answer("00E210801C" + hexOf(asBytes(*record)) + "00",
                   "00494331323334"
                   "9000");
  c().putText(Dispid::OptionData1, u"X");
  ASSERT_EQ(c().call(Dispid::FiscCardInquiry), 0);
  EXPECT_EQ(get(Dispid::TACLen), "0");
  EXPECT_EQ(get(Dispid::TAC), "");
  EXPECT_EQ(get(Dispid::OptionData1), expectedOutput("X"));
}

TEST_F(TransactionTest, EmptyTacAndEmptyPageDataStillSucceed) {
  sim::CardFaults faults;
  faults.tacLengthField = 0x0000;
  h.card->setFaults(faults);
  c().putText(Dispid::OptionData1, u"");
  EXPECT_EQ(c().call(Dispid::FiscCardTax), 0);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x9000);
  EXPECT_EQ(get(Dispid::TACLen), "0");
  EXPECT_EQ(get(Dispid::TAC), "");
  EXPECT_EQ(get(Dispid::OptionData1), "");
}

}  // namespace
}  // namespace ruzazuv::testing
