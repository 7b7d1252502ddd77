// The transfer and the expense against the simulated card: the pull-plug check and the
// confirmation come after every field check, only a confirmed transfer reaches the card, and
// the records the card receives.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "apdu/hex_codec.h"
#include "support/control_harness.h"
#include "support/fake_clock.h"
#include "support/fake_timer.h"
#include "support/scripted_test_host.h"
#include "ui/confirm_dialog.h"
#include "ui/countdown_dialog.h"

namespace ruzazuv::testing {
namespace {

constexpr int kConfirmTemplate = ConfirmDialog::kTemplateId;
constexpr int kCountdownTemplate = 113;

std::string narrowOf(const std::u16string& s) {
  return std::string(s.begin(), s.end());
}

struct Shown {
  std::u16string transferOut, transferIn, amount;
};

class PresenceTest : public ::testing::Test {
 protected:
  PresenceTest() : timer(&clock), host(&timer), h(&clock, &timer, &host) {}

  // `listed`: the reader is named in noPullPlugReader, so no countdown runs.
  void start(bool listed) {
    h.site(u"https://ebank.ruzazuv.example/transfer");
    if (listed) c().putText(Dispid::noPullPlugReader, u"Other Reader;Test Reader 0");
    h.connectAndVerify();
    ASSERT_EQ(c().getText(Dispid::isPullPlugReader), listed ? u"False" : u"True");
    // A listed reader keeps no PIN from VerifyPIN: the page hands it over through Pin.
    if (listed) c().putText(Dispid::Pin, u"123456");
    fillFields();
    h.clearCommands();
  }

  void fillFields() {
    c().putText(Dispid::money, u"150000");
    c().putText(Dispid::FdId, u"FD000001");
    c().putText(Dispid::FdChkCode, u"CHK00001");
    c().putText(Dispid::DateTime, u"20260307090503");
    c().putText(Dispid::ImprtAccnt, u"8120000000000003");
    c().putText(Dispid::AcceptNo, u"81299");
    c().putText(Dispid::OptionData1, u"PAGEDATA");
    c().putInt(Dispid::curAccntIndex, 3);
  }

  // The confirmation is answered with `id` (OK or Cancel) after noting what it shows.
  void answerConfirmation(int id) {
    host.onConfirm([this, id](DialogModel& model, TestWindow&) {
      auto& dialog = dynamic_cast<ConfirmDialog&>(model);
      shown = Shown{dialog.transferOut(), dialog.transferIn(), dialog.amount()};
      dialog.onCommand(id, 0);
    });
  }

  CardControl& c() { return h.control(); }
  std::string get(Dispid id) { return narrowOf(c().getText(id)); }
  std::string account(int n) { return h.card->profile().accounts.at(static_cast<std::size_t>(n)); }

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
  int windows() { return host.runs(kConfirmTemplate) + host.runs(kCountdownTemplate); }

  FakeClock clock;
  FakeTimer timer;
  ScriptedTestHost host;
  ControlHarness h;
  std::optional<Shown> shown;
};

// ---- Transfer ----

TEST_F(PresenceTest, ConfirmedTransferShowsTheThreeLinesAndAuthorisesTheRecord) {
  start(true);
  answerConfirmation(ConfirmDialog::kOkId);
  c().putText(Dispid::PCode, u"----");
  ASSERT_EQ(c().call(Dispid::FiscCardTransfer), 0);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x9000);
  EXPECT_EQ(host.runs(kCountdownTemplate), 0);
  EXPECT_EQ(host.runs(kConfirmTemplate), 1);

  ASSERT_TRUE(shown);
  // issueNo 0123 read afresh from the card; AcceptNo shows its first three characters.
  EXPECT_EQ(shown->transferOut, u"012/0081234567890103");
  EXPECT_EQ(shown->transferIn, u"812/8120000000000003");
  EXPECT_EQ(shown->amount, u"1500");

  const auto record = recordSent(0x50);
  ASSERT_TRUE(record);
  ASSERT_EQ(record->size(), 80u);
  EXPECT_EQ(record->substr(0, 4), "2521");
  EXPECT_EQ(record->substr(4, 14), "00000000150000");
  EXPECT_EQ(record->substr(18, 8), "FD000001");
  EXPECT_EQ(record->substr(26, 8), "CHK00001");
  EXPECT_EQ(record->substr(34, 14), "20260307090503");
  EXPECT_EQ(record->substr(48, 16), "8120000000000003");
  EXPECT_EQ(record->substr(64, 16), account(2));
  EXPECT_EQ(get(Dispid::PCode), "2521");
  EXPECT_EQ(get(Dispid::Account), account(2));
  EXPECT_EQ(get(Dispid::TAC),
            hexOf(h.card->tacFor(std::vector<std::uint8_t>(record->begin(), record->end()))));
  EXPECT_EQ(get(Dispid::OptionData1).size(), 64u);
}

TEST_F(PresenceTest, CancelledOrUnavailableConfirmationKeepsTheCardOutOfIt) {
  start(true);
  answerConfirmation(ConfirmDialog::kOkId);
  ASSERT_EQ(c().call(Dispid::FiscCardTransfer), 0);
  const std::string icc = get(Dispid::ICC), tacLen = get(Dispid::TACLen), tac = get(Dispid::TAC),
                    output = get(Dispid::OptionData1);

  const std::vector<std::pair<const char*, std::function<void()>>> refusals = {
      {"cancelled", [&] { answerConfirmation(ConfirmDialog::kCancelId); }},
      {"not shown", [&] { host.failCreate(kConfirmTemplate); }},
  };
  for (const auto& [what, arrange] : refusals) {
    SCOPED_TRACE(what);
    arrange();
    h.clearCommands();
    EXPECT_EQ(c().call(Dispid::FiscCardTransfer), CardControl::kRefused);
    EXPECT_EQ(c().getInt(Dispid::uiSW12), 1015);
    EXPECT_FALSE(authorisationSent());
    EXPECT_EQ(get(Dispid::ICC), icc);
    EXPECT_EQ(get(Dispid::TACLen), tacLen);
    EXPECT_EQ(get(Dispid::TAC), tac);
    EXPECT_EQ(get(Dispid::OptionData1), output);
  }
}

// One way to make a check fail, and the detail code it gives.
struct Breaker {
  const char* what;
  std::function<void(CardControl&)> apply;
  std::int32_t code;
};

Breaker text(const char* what, Dispid id, std::u16string bad, std::int32_t code) {
  return {what, [id, bad](CardControl& c) { c.putText(id, bad); }, code};
}

const std::vector<Breaker> kTransferChecks = {
    text("money", Dispid::money, u"123456789012345", 1008),
    text("FdId", Dispid::FdId, u"FD00001", 1009),
    text("FdChkCode", Dispid::FdChkCode, u"CHK0001", 1004),
    text("DateTime", Dispid::DateTime, u"202603070905031", 1006),
    text("ImprtAccnt", Dispid::ImprtAccnt, u"812000000000000", 1007),
    {"account", [](CardControl& c) { c.putInt(Dispid::curAccntIndex, 9); }, 1005},
};

TEST_F(PresenceTest, MalformedTransferNeverShowsAWindowAndReportsTheFirstFault) {
  start(false);  // the countdown would run if any window were reached
  answerConfirmation(ConfirmDialog::kOkId);
  for (std::size_t i = 0; i < kTransferChecks.size(); ++i) {
    SCOPED_TRACE(kTransferChecks[i].what);
    fillFields();
    c().putText(Dispid::PCode, u"----");
    h.clearCommands();
    for (std::size_t k = i; k < kTransferChecks.size(); ++k) kTransferChecks[k].apply(c());
    EXPECT_EQ(c().call(Dispid::FiscCardTransfer), CardControl::kRefused);
    EXPECT_EQ(c().getInt(Dispid::uiSW12), kTransferChecks[i].code);
    // The PIN was verified again and PCode named before the first field was looked at.
    ASSERT_FALSE(h.commands().empty());
    EXPECT_EQ(h.commands().front().at(1), 0x20);
    EXPECT_EQ(get(Dispid::PCode), "2521");
    EXPECT_FALSE(authorisationSent());
  }
  EXPECT_EQ(windows(), 0);
}

TEST_F(PresenceTest, AccountIndexOutsideTheCardsAccountsStopsAfterTheReverification) {
  start(true);
  answerConfirmation(ConfirmDialog::kOkId);
  c().putText(Dispid::Account, u"1234567890123456");
  for (std::int32_t index : {0, 9}) {
    c().putInt(Dispid::curAccntIndex, index);
    h.clearCommands();
    EXPECT_EQ(c().call(Dispid::FiscCardTransfer), CardControl::kRefused);
    EXPECT_EQ(c().getInt(Dispid::uiSW12), 1005);
    EXPECT_EQ(h.commands().size(), 1u);  // the VERIFY only
    h.clearCommands();
    EXPECT_EQ(c().call(Dispid::FiscCardExpense), CardControl::kRefused);
    EXPECT_EQ(c().getInt(Dispid::uiSW12), 1005);
    EXPECT_EQ(h.commands().size(), 1u);
  }
  EXPECT_EQ(windows(), 0);
}

TEST_F(PresenceTest, ShortTransactionCodesAreRefusedBeforeAnyCommandOrWindow) {
  start(false);
  c().putText(Dispid::TransferTxnID, u"252");
  c().putText(Dispid::ExpenseTxnID, u"25");
  EXPECT_EQ(c().call(Dispid::FiscCardTransfer), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1005);
  c().putInt(Dispid::uiSW12, 0);
  EXPECT_EQ(c().call(Dispid::FiscCardExpense), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1005);
  EXPECT_TRUE(h.commands().empty());
  EXPECT_EQ(windows(), 0);
}

TEST_F(PresenceTest, UnapprovedPageOrMissingPinSendsNothing) {
  ControlHarness other(&clock, &timer, &host);
  other.site(u"https://elsewhere.example/");
  other.connect();
  other.clearCommands();
  for (Dispid method : {Dispid::FiscCardTransfer, Dispid::FiscCardExpense}) {
    EXPECT_EQ(other.control().call(method), CardControl::kRefused);
    EXPECT_EQ(other.control().getInt(Dispid::uiSW12), 1016);
  }
  EXPECT_TRUE(other.commands().empty());

  start(false);
  c().putText(Dispid::Pin, u"1234567890123");
  for (Dispid method : {Dispid::FiscCardTransfer, Dispid::FiscCardExpense}) {
    EXPECT_EQ(c().call(method), CardControl::kRefused);
    EXPECT_EQ(c().getInt(Dispid::uiSW12), 1018);
  }
  EXPECT_TRUE(h.commands().empty());
  EXPECT_EQ(windows(), 0);
}

TEST_F(PresenceTest, WrongStoredPinEndsTheTransferWithTheCardsVerdict) {
  start(false);
  c().putText(Dispid::Pin, u"999999");
  EXPECT_EQ(c().call(Dispid::FiscCardTransfer), 0);
  EXPECT_EQ(c().getInt(Dispid::uiSW12) >> 8, 0x63);
  EXPECT_EQ(h.commands().size(), 1u);
  EXPECT_EQ(windows(), 0);
}

TEST_F(PresenceTest, CountdownRunningOutWithTheCardLeftInDeclinesTheTransfer) {
  start(false);
  answerConfirmation(ConfirmDialog::kOkId);
  // A pass left from earlier does not excuse this transfer from the check.
  c().pullPlug().pullPlugPassed = true;
  EXPECT_EQ(c().call(Dispid::FiscCardTransfer), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1015);
  EXPECT_EQ(host.runs(kCountdownTemplate), 1);
  EXPECT_EQ(host.runs(kConfirmTemplate), 0);
  EXPECT_FALSE(authorisationSent());
}

TEST_F(PresenceTest, CardPulledAndNotReinsertedPassesTheProceduresOwnCode) {
  start(false);
  answerConfirmation(ConfirmDialog::kOkId);
  host.at(2000, [this] { h.pcsc.removeCard(kReader); });
  EXPECT_EQ(c().call(Dispid::FiscCardTransfer), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 2003);
  EXPECT_EQ(host.runs(kConfirmTemplate), 0);
  EXPECT_FALSE(authorisationSent());
}

TEST_F(PresenceTest, CardPulledAndReinsertedInTimeGoesOnToTheConfirmation) {
  start(false);
  answerConfirmation(ConfirmDialog::kOkId);
  host.at(2000, [this] { h.pcsc.removeCard(kReader); });
  host.at(4000, [this] { h.pcsc.insertCard(kReader, h.card); });
  ASSERT_EQ(c().call(Dispid::FiscCardTransfer), 0);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x9000);
  EXPECT_EQ(host.runs(kCountdownTemplate), 1);
  EXPECT_EQ(host.runs(kConfirmTemplate), 1);
  EXPECT_TRUE(c().pullPlug().pullPlugPassed);
  const auto record = recordSent(0x50);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->substr(64, 16), account(2));
}

// ---- Expense ----

TEST_F(PresenceTest, ExpenseOnAListedReaderGoesStraightToTheCard) {
  start(true);
  c().putText(Dispid::ExpenseTxnID, u"2562");
  ASSERT_EQ(c().call(Dispid::FiscCardExpense), 0);
  EXPECT_EQ(windows(), 0);
  const auto record = recordSent(0x40);
  ASSERT_TRUE(record);
  EXPECT_EQ(*record,
            "2562"
            "00000000150000"
            "FD000001"
            "CHK00001"
            "20260307090503" +
                account(2));
  EXPECT_EQ(get(Dispid::PCode), "2562");
  EXPECT_EQ(get(Dispid::TACLen), "8");
}

TEST_F(PresenceTest, ExpenseRunsTheCountdownAfterItsChecksButNoConfirmation) {
  start(false);
  c().putText(Dispid::FdId, u"FD00001");
  EXPECT_EQ(c().call(Dispid::FiscCardExpense), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1009);
  EXPECT_EQ(windows(), 0);

  fillFields();
  EXPECT_EQ(c().call(Dispid::FiscCardExpense), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1015);  // the card was never taken out
  EXPECT_EQ(host.runs(kCountdownTemplate), 1);

  host.at(1000, [this] { h.pcsc.removeCard(kReader); });
  host.at(1500, [this] { h.pcsc.insertCard(kReader, h.card); });
  h.clearCommands();
  ASSERT_EQ(c().call(Dispid::FiscCardExpense), 0);
  EXPECT_EQ(host.runs(kCountdownTemplate), 2);
  EXPECT_EQ(host.runs(kConfirmTemplate), 0);
  ASSERT_TRUE(recordSent(0x40));
}

}  // namespace
}  // namespace ruzazuv::testing
