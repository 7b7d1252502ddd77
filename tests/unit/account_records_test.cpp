// FiscListAccounts and FiscListImportAccounts against the simulated card.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apdu/hex_codec.h"
#include "support/control_harness.h"
#include "support/scripted_card.h"

namespace ruzazuv::testing {
namespace {

using sim::CardFaults;

std::u16string wide(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

class AccountRecordsTest : public ::testing::Test {
 protected:
  // The card whose transfer-in records have every length up to their 24-character field.
  AccountRecordsTest() {
    h.card = makeCard("ragged-records.json");
    h.pcsc.insertCard(kReader, h.card);
  }

  // Connects to the card now in the reader and forgets the connection's commands.
  void begin() {
    h.connect();
    h.clearCommands();
  }

  // Marks every property the two methods may write, so that an unchanged one can be told apart.
  void markAll() {
    c().putText(Dispid::issueNo, u"old-issue");
    c().putText(Dispid::Remark, u"old-remark");
    for (int i = 0; i < 8; ++i) {
      c().putText(static_cast<Dispid>(static_cast<int>(Dispid::account0) + i), u"old-account");
      c().putText(static_cast<Dispid>(static_cast<int>(Dispid::importaccount0) + i), u"old-import");
    }
  }
  std::u16string account(int i) {
    return h.control().getText(static_cast<Dispid>(static_cast<int>(Dispid::account0) + i));
  }
  std::u16string importAccount(int i) {
    return h.control().getText(static_cast<Dispid>(static_cast<int>(Dispid::importaccount0) + i));
  }
  CardControl& c() { return h.control(); }

  ControlHarness h;
};

TEST_F(AccountRecordsTest, ListAccountsSelectsFile1001AndReadsTenWholeRecords) {
  begin();
  ASSERT_EQ(c().call(Dispid::FiscListAccounts), 0);

  std::vector<std::string> expected = {"00A40200021001"};
  for (int n = 1; n <= 10; ++n) {
    const auto b = static_cast<std::uint8_t>(n);
    expected.push_back("00B2" + BytesToHex(&b, 1) + "0400");
  }
  EXPECT_EQ(h.commandsHex(), expected);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x9000);
}

TEST_F(AccountRecordsTest, ListAccountsFillsFieldsFromFixedOffsetsCutAtZeroBytes) {
  begin();
  markAll();
  ASSERT_EQ(c().call(Dispid::FiscListAccounts), 0);

  // The issue number is four characters in an eight-byte field of zeros.
  EXPECT_EQ(c().getText(Dispid::issueNo), u"0123");
  const auto remark = h.card->record(0x1001, 2);
  EXPECT_EQ(c().getText(Dispid::Remark), wide(BytesToHex(remark.data() + 2, 30)));
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(account(i), wide(h.card->profile().accounts[static_cast<std::size_t>(i)]))
        << "account" << i;
  }
  // Listing neither reads nor changes the selected account.
  EXPECT_EQ(c().getInt(Dispid::curAccntIndex), 1);
}

TEST_F(AccountRecordsTest, AccountInterruptedByZeroByteEndsThereAndShortRemarkShowsOnlyWhatCame) {
  auto scripted = std::make_shared<ScriptedCard>(h.card);
  // Record 3: ten digits, a zero byte, then more digits. Record 2: a remark of only 4 bytes;
  // its field ends with the answer (status bytes included), not with the 30 bytes it may span.
  scripted->answer("00B2030400",
                   "0310"
                   "30313233343536373839"
                   "00"
                   "3435363738"
                   "9000");
  scripted->answer("00B2020400",
                   "021E"
                   "DEADBEEF"
                   "9000");
  h.pcsc.insertCard(kReader, scripted);
  begin();

  ASSERT_EQ(c().call(Dispid::FiscListAccounts), 0);
  EXPECT_EQ(account(0), u"0123456789");
  EXPECT_EQ(c().getText(Dispid::Remark), u"DEADBEEF9000");
}

TEST_F(AccountRecordsTest, MissingRecordsKeepTheirValuesAndStatusOfLastReadRemains) {
  h.card = makeCard("few-records.json");  // file 1001 holds records 1 to 4
  h.pcsc.insertCard(kReader, h.card);
  begin();
  markAll();

  ASSERT_EQ(c().call(Dispid::FiscListAccounts), 0);
  EXPECT_EQ(c().getText(Dispid::issueNo), u"0123");
  EXPECT_EQ(c().getText(Dispid::Remark).size(), 60u);
  EXPECT_EQ(account(0), u"0081234567890101");
  EXPECT_EQ(account(1), u"0081234567890102");
  for (int i = 2; i < 8; ++i) EXPECT_EQ(account(i), u"old-account") << "account" << i;
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x6A83);  // record 10: record not found
  EXPECT_EQ(h.commands().size(), 11u);            // the missing records were still asked for
}

TEST_F(AccountRecordsTest, StatusOnlyAnswersLeaveEveryPropertyAndReturnZero) {
  begin();
  markAll();
  CardFaults faults;
  faults.statusOnly = true;
  h.card->setFaults(faults);

  ASSERT_EQ(c().call(Dispid::FiscListAccounts), 0);
  ASSERT_EQ(c().call(Dispid::FiscListImportAccounts), 0);
  EXPECT_EQ(c().getText(Dispid::issueNo), u"old-issue");
  EXPECT_EQ(c().getText(Dispid::Remark), u"old-remark");
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(account(i), u"old-account");
    EXPECT_EQ(importAccount(i), u"old-import");
  }
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x9000);
}

TEST_F(AccountRecordsTest, TransmitFailureStopsTheListAndKeepsWhatWasRead) {
  begin();
  markAll();
  // SELECT and records 1 to 3 go through; the read of record 4 fails.
  h.pcsc.failCall("transmit", pcsc_code::kRemovedCard, 1, 4);

  EXPECT_EQ(c().call(Dispid::FiscListAccounts), pcsc_code::kRemovedCard);
  EXPECT_EQ(c().getText(Dispid::issueNo), u"0123");
  EXPECT_EQ(account(0), u"0081234567890101");
  for (int i = 1; i < 8; ++i) EXPECT_EQ(account(i), u"old-account") << "account" << i;
  EXPECT_EQ(h.commands().size(), 4u);  // nothing after the failed read was sent
}

TEST_F(AccountRecordsTest, FailedSelectChangesNothing) {
  begin();
  markAll();
  h.pcsc.removeCard(kReader);

  EXPECT_EQ(c().call(Dispid::FiscListAccounts), pcsc_code::kRemovedCard);
  EXPECT_EQ(c().call(Dispid::FiscListImportAccounts), pcsc_code::kRemovedCard);
  EXPECT_EQ(c().getText(Dispid::issueNo), u"old-issue");
  EXPECT_EQ(c().getText(Dispid::Remark), u"old-remark");
  EXPECT_EQ(account(0), u"old-account");
  EXPECT_EQ(importAccount(0), u"old-import");
}

TEST_F(AccountRecordsTest, ImportAccountsReadRecordsOneToSevenAndTenNeverEightOrNine) {
  begin();
  markAll();
  ASSERT_EQ(c().call(Dispid::FiscListImportAccounts), 0);

  EXPECT_EQ(h.commandsHex(), (std::vector<std::string>{"00A40200021002", "00B2010400", "00B2020400",
                                                       "00B2030400", "00B2040400", "00B2050400",
                                                       "00B2060400", "00B2070400", "00B20A0400"}));
  const auto& imports = h.card->profile().importAccounts;
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(importAccount(i), wide(imports[static_cast<std::size_t>(i)])) << "import " << i;
  }
  EXPECT_EQ(importAccount(7), wide(imports[9]));  // record 10, not record 8
  // Short accounts end at the zero byte of their 24-byte field.
  EXPECT_EQ(importAccount(5), u"8120000000006");
  // The own accounts are not touched.
  EXPECT_EQ(account(0), u"old-account");
}

TEST_F(AccountRecordsTest, ImportAccountsSkipStatusOnlyRecordAndStopAtFailure) {
  begin();
  markAll();
  CardFaults faults;
  faults.missingRecords[0x1002] = {3};
  h.card->setFaults(faults);
  // SELECT and the seven low records go through; the read of record 10 fails.
  h.pcsc.failCall("transmit", pcsc_code::kNotReady, 1, 8);

  EXPECT_EQ(c().call(Dispid::FiscListImportAccounts), pcsc_code::kNotReady);
  EXPECT_EQ(importAccount(1), u"812000000000000000000002");
  EXPECT_EQ(importAccount(2), u"old-import");  // record 3 answered 6A 83
  EXPECT_EQ(importAccount(6), u"812000000000000000000007");
  EXPECT_EQ(importAccount(7), u"old-import");
}

TEST_F(AccountRecordsTest, EachCallReadsTheCardAfresh) {
  begin();
  ASSERT_EQ(c().call(Dispid::FiscListAccounts), 0);
  // Another card in the same reader: its values replace the first card's.
  auto other = std::make_shared<ScriptedCard>(h.card);
  other->answer("00B2030400",
                "0310"
                "39393939393939393939393939393939"
                "9000");
  ASSERT_EQ(c().call(Dispid::DisConnectCard), 0);
  h.pcsc.insertCard(kReader, other);
  begin();

  ASSERT_EQ(c().call(Dispid::FiscListAccounts), 0);
  EXPECT_EQ(account(0), u"9999999999999999");
  EXPECT_EQ(account(1), u"0081234567890102");
  EXPECT_EQ(h.commands().size(), 11u);
}

}  // namespace
}  // namespace ruzazuv::testing
