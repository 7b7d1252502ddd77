// FiscListTradeLog against the simulated card.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "apdu/hex_codec.h"
#include "sim/card_profile.h"
#include "support/control_harness.h"
#include "support/scripted_card.h"

namespace ruzazuv::testing {
namespace {

Dispid logEntry(int n) {
  return static_cast<Dispid>(static_cast<int>(Dispid::tradeLog1) + n - 1);
}

std::u16string wide(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

class TradeLogTest : public ::testing::Test {
 protected:
  void begin() {
    h.connect();
    h.clearCommands();
    for (int n = 1; n <= 10; ++n) c().putText(logEntry(n), u"old-entry");
  }
  CardControl& c() { return h.control(); }

  ControlHarness h;
};

TEST_F(TradeLogTest, ReadsTenRecordsOfFile1080AsWholeHexRecords) {
  begin();
  ASSERT_EQ(c().call(Dispid::FiscListTradeLog), 0);

  std::vector<std::string> expected = {"00A40200021080"};
  for (int n = 1; n <= 10; ++n) {
    const auto b = static_cast<std::uint8_t>(n);
    expected.push_back("00B2" + BytesToHex(&b, 1) + "0400");
  }
  EXPECT_EQ(h.commandsHex(), expected);

  // The default card logs three trades of 25 bytes each: 50 characters, without status bytes.
  for (int n = 1; n <= 3; ++n) {
    const auto record = h.card->record(0x1080, n);
    ASSERT_EQ(record.size(), 25u);
    EXPECT_EQ(c().getText(logEntry(n)), wide(hexOf(record))) << "tradeLog" << n;
  }
  for (int n = 4; n <= 10; ++n) EXPECT_EQ(c().getText(logEntry(n)), u"old-entry") << n;
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x6A83);
}

TEST_F(TradeLogTest, RecordsOfOneAndOfTwoHundredFiftySixBytesComeBackWhole) {
  std::string longRecord;
  for (int i = 0; i < 256; ++i) {
    const auto b = static_cast<std::uint8_t>(i);
    longRecord += BytesToHex(&b, 1);
  }
  std::string lower = longRecord;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  const std::string profile = R"({"atr": "3B8C8131FE4552555A415A55564649534331EC",
      "protocols": ["T1"], "tradeLog": ["00", ")" +
                              lower + R"("]})";
  h.card = std::make_shared<sim::FiscCard>(sim::parseCardProfile(profile));
  h.pcsc.insertCard(kReader, h.card);
  begin();

  ASSERT_EQ(c().call(Dispid::FiscListTradeLog), 0);
  EXPECT_EQ(c().getText(logEntry(1)), u"00");
  EXPECT_EQ(c().getText(logEntry(2)).size(), 512u);
  EXPECT_EQ(c().getText(logEntry(2)), wide(longRecord));  // upper-case hex
  EXPECT_EQ(c().getText(logEntry(3)), u"old-entry");
}

TEST_F(TradeLogTest, StatusOnlyAnswersChangeNothing) {
  auto scripted = std::make_shared<ScriptedCard>(h.card);
  scripted->answer("00B2020400", "6A83");
  scripted->answer("00B2030400", "9000");
  h.pcsc.insertCard(kReader, scripted);
  begin();

  ASSERT_EQ(c().call(Dispid::FiscListTradeLog), 0);
  EXPECT_EQ(c().getText(logEntry(1)).size(), 50u);
  EXPECT_EQ(c().getText(logEntry(2)), u"old-entry");
  EXPECT_EQ(c().getText(logEntry(3)), u"old-entry");
}

TEST_F(TradeLogTest, TransmitFailureStopsReadingAndKeepsEarlierEntries) {
  begin();
  // SELECT and records 1 and 2 go through; record 3 fails.
  h.pcsc.failCall("transmit", pcsc_code::kRemovedCard, 1, 3);
  EXPECT_EQ(c().call(Dispid::FiscListTradeLog), pcsc_code::kRemovedCard);
  EXPECT_EQ(c().getText(logEntry(2)).size(), 50u);
  EXPECT_EQ(c().getText(logEntry(3)), u"old-entry");
  EXPECT_EQ(h.commands().size(), 3u);

  h.clearCommands();
  h.pcsc.failCall("transmit", pcsc_code::kNotReady);
  EXPECT_EQ(c().call(Dispid::FiscListTradeLog), pcsc_code::kNotReady);
  EXPECT_TRUE(h.commands().empty());
}

}  // namespace
}  // namespace ruzazuv::testing
