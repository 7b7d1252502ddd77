#include "sim/fisc_card.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "sim/card_profile.h"
#include "sim/sim_hex.h"

namespace ruzazuv::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes hex(std::string_view text) {
  return parseHex(text).value();
}

Bytes withSw(Bytes data, std::uint16_t sw) {
  data.push_back(static_cast<std::uint8_t>(sw >> 8));
  data.push_back(static_cast<std::uint8_t>(sw));
  return data;
}

Bytes sw(std::uint16_t value) {
  return withSw({}, value);
}

Bytes ascii(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Bytes kSelectApplication = hex("00A4040008A00000017295000100");

class FiscCardTest : public ::testing::Test {
 protected:
  static CardProfile profile(const char* file) { return loadCardProfile(builtinProfilePath(file)); }

  Bytes send(std::string_view apdu) { return card.transmit(hex(apdu)); }
  Bytes verify(std::string_view pin) {
    Bytes apdu = hex("0020001008");
    const auto block = FiscCard::pinBlockFor(pin);
    apdu.insert(apdu.end(), block.begin(), block.end());
    return card.transmit(apdu);
  }
  void openApplication() { ASSERT_EQ(card.transmit(kSelectApplication).back(), 0x00); }

  FiscCard card{profile("default.json")};
};

TEST(FiscPinBlock, DigitsThenF) {
  EXPECT_EQ(toHex(FiscCard::pinBlockFor("123456")), "123456FFFFFFFFFF");
  EXPECT_EQ(toHex(FiscCard::pinBlockFor("1234567890123")), "1234567890123FFF");
}

TEST_F(FiscCardTest, SelectsTheApplicationByItsIdentifier) {
  const Bytes answer = card.transmit(kSelectApplication);
  ASSERT_GT(answer.size(), 2u);
  EXPECT_EQ(Bytes(answer.end() - 2, answer.end()), sw(0x9000));
  EXPECT_NE(toHex(answer).find("A000000172950001"), std::string::npos);
  EXPECT_EQ(send("00A4040008A00000017295000200"), sw(0x6A82));
}

TEST_F(FiscCardTest, SelectsFilesOnlyInsideTheApplication) {
  EXPECT_EQ(send("00A40200021001"), sw(0x6A82));
  openApplication();
  for (auto file : {"1001", "1002", "1080", "00C2"}) {
    EXPECT_EQ(send(std::string("00A4020002") + file), sw(0x9000)) << file;
  }
  EXPECT_EQ(send("00A40200021003"), sw(0x6A82));
  EXPECT_EQ(send("00A4020003100111"), sw(0x6700));  // a file identifier of three bytes
}

TEST_F(FiscCardTest, OwnDataRecordsHoldIssueNumberRemarkAndAccounts) {
  openApplication();
  EXPECT_EQ(send("00B2010400"), sw(0x6986));  // no file selected yet
  send("00A40200021001");
  EXPECT_EQ(send("00B2010400"), withSw(hex("0108"
                                           "30313233"
                                           "00000000"),
                                       0x9000));
  const Bytes remark = send("00B2020400");
  ASSERT_EQ(remark.size(), 2u + 30u + 2u);
  EXPECT_EQ(Bytes(remark.begin() + 2, remark.end() - 2), card.profile().remark);
  EXPECT_EQ(send("00B2030400"), withSw(hex("0310") + ascii("0081234567890101"), 0x9000));
  EXPECT_EQ(send("00B20A0400").size(), 2u + 16u + 2u);
  EXPECT_EQ(send("00B20B0400"), sw(0x6A83));
  EXPECT_EQ(send("00B2000400"), sw(0x6A83));
  EXPECT_EQ(send("00B2030C00"), sw(0x6A86));
  EXPECT_EQ(send("00B2030410"), sw(0x6C12));  // wrong Le: the card names the record's length
}

TEST_F(FiscCardTest, ImportAccountsAndTradeLog) {
  openApplication();
  send("00A40200021002");
  const Bytes eighth = send("00B2080400");
  const Bytes ninth = send("00B2090400");
  const Bytes tenth = send("00B20A0400");
  ASSERT_EQ(tenth.size(), 2u + 24u + 2u);
  EXPECT_NE(eighth, ninth);
  EXPECT_NE(eighth, tenth);
  EXPECT_EQ(send("00B20B0400"), sw(0x6A83));

  send("00A40200021080");
  EXPECT_EQ(send("00B2010400").size(), 25u + 2u);
  EXPECT_EQ(send("00B2030400").size(), 25u + 2u);
  EXPECT_EQ(send("00B2040400"), sw(0x6A83));

  send(
      "00A4020002"
      "00C2");
  EXPECT_EQ(send("00B2010400"), sw(0x6982));  // the PIN record cannot be read
}

TEST_F(FiscCardTest, WrongPinsCountDownThenBlockForGood) {
  openApplication();
  EXPECT_EQ(verify("111111"), sw(0x63C2));
  EXPECT_EQ(verify("123456"), sw(0x9000));
  EXPECT_EQ(card.triesLeft(), 3);  // a right PIN restores the counter
  EXPECT_TRUE(card.pinVerified());
  EXPECT_EQ(verify("111111"), sw(0x63C2));
  EXPECT_FALSE(card.pinVerified());
  EXPECT_EQ(verify("111111"), sw(0x63C1));
  EXPECT_EQ(verify("111111"), sw(0x6983));
  EXPECT_EQ(verify("123456"), sw(0x6983));
  EXPECT_EQ(card.triesLeft(), 0);
  EXPECT_EQ(send("00200010081122334455667788"), sw(0x6983));
}

TEST_F(FiscCardTest, VerifyWantsAnEightBytePinBlock) {
  openApplication();
  EXPECT_EQ(send("002000100712345FFFFFFFFF"), sw(0x6700));
  EXPECT_EQ(send("0020001000"), sw(0x63C3));  // Le only: how many tries are left
  EXPECT_EQ(card.triesLeft(), 3);
}

TEST_F(FiscCardTest, PinChangeNeedsTheOldPinAndThePinFile) {
  openApplication();
  send(
      "00A4020002"
      "00C2");
  EXPECT_EQ(send("00D2010408"
                 "654321FFFFFFFFFF"),
            sw(0x6982));
  verify("123456");
  send("00A40200021001");
  EXPECT_EQ(send("00D2010408"
                 "654321FFFFFFFFFF"),
            sw(0x6981));
  send(
      "00A4020002"
      "00C2");
  EXPECT_EQ(send("00D2010408"
                 "654321FFFFFFFFFF"),
            sw(0x9000));
  EXPECT_EQ(toHex(card.pinBlock()), "654321FFFFFFFFFF");
  EXPECT_EQ(verify("123456"), sw(0x63C2));
  EXPECT_EQ(verify("654321"), sw(0x9000));
}

TEST_F(FiscCardTest, RandomNumbersAreFreshEachTime) {
  const Bytes first = send("0086000008");
  const Bytes second = send("0086000008");
  ASSERT_EQ(first.size(), 10u);
  EXPECT_EQ(Bytes(first.end() - 2, first.end()), sw(0x9000));
  EXPECT_NE(first, second);
  EXPECT_EQ(Bytes(second.begin(), second.end() - 2), card.lastRandom());
  EXPECT_EQ(send("0086000010"), sw(0x6C08));
}

class AuthorisationTest : public FiscCardTest {
 protected:
  // An inquiry record: transaction code, check code, account (28 bytes).
  const std::string record =
      "2500"
      "CHK00001"
      "0081234567890101";
  Bytes command() const {
    return hex("00E21080") + Bytes{static_cast<std::uint8_t>(record.size())} + ascii(record) +
           Bytes{0x00};
  }
};

TEST_F(AuthorisationTest, NeedsTheVerifiedPin) {
  openApplication();
  EXPECT_EQ(card.transmit(command()), sw(0x6982));
  verify("111111");
  EXPECT_EQ(card.transmit(command()), sw(0x6982));
}

TEST_F(AuthorisationTest, AnswersIccTacLengthAndTac) {
  openApplication();
  verify("123456");
  const Bytes answer = card.transmit(command());
  const Bytes tac = card.tacFor(ascii(record));
  ASSERT_EQ(tac.size(), 8u);
  EXPECT_EQ(answer, withSw(Bytes{0x00} + ascii("IC000421") + Bytes{0x00, 0x08} + tac, 0x9000));

  FiscCard other(profile("second-card.json"));
  EXPECT_NE(other.tacFor(ascii(record)), tac);
  EXPECT_NE(card.tacFor(ascii(record.substr(1))), tac);
}

TEST_F(AuthorisationTest, RefusesRecordsOfUnknownLength) {
  openApplication();
  verify("123456");
  Bytes apdu = command();
  apdu.erase(apdu.begin() + 5);  // 27 record bytes
  apdu[4] = 27;
  EXPECT_EQ(card.transmit(apdu), sw(0x6700));
}

TEST_F(AuthorisationTest, FaultsShapeTheAnswer) {
  openApplication();
  verify("123456");
  CardFaults faults;
  faults.tacLengthField = 0x0016;
  card.setFaults(faults);
  const Bytes answer = card.transmit(command());
  ASSERT_EQ(answer.size(), 21u);  // still 8 TAC bytes, though the field says 16
  EXPECT_EQ(answer[9], 0x00);
  EXPECT_EQ(answer[10], 0x16);

  faults.authorisationStatusOnly = true;
  faults.authorisationStatus = 0x6985;
  card.setFaults(faults);
  EXPECT_EQ(card.transmit(command()), sw(0x6985));
}

TEST_F(FiscCardTest, ResetForgetsSelectionAndPin) {
  openApplication();
  verify("123456");
  send("00A40200021001");
  card.reset();
  EXPECT_FALSE(card.pinVerified());
  EXPECT_EQ(send("00B2010400"), sw(0x6986));
  EXPECT_EQ(send("00A40200021001"), sw(0x6A82));
  EXPECT_EQ(card.resetCount(), 1);
}

TEST(FiscCardFaults, ProfilesSwitchFaultsOn) {
  FiscCard missing(loadCardProfile(builtinProfilePath("no-application.json")));
  EXPECT_EQ(missing.transmit(kSelectApplication), sw(0x6A82));

  FiscCard statusOnly(loadCardProfile(builtinProfilePath("status-only.json")));
  EXPECT_EQ(statusOnly.transmit(kSelectApplication), sw(0x9000));
  EXPECT_EQ(statusOnly.transmit(hex("00B2030400")), sw(0x9000));
  EXPECT_EQ(statusOnly.transmit(hex("FF")), sw(0x9000));

  FiscCard few(loadCardProfile(builtinProfilePath("few-records.json")));
  few.transmit(kSelectApplication);
  few.transmit(hex("00A40200021001"));
  EXPECT_EQ(few.transmit(hex("00B2040400")).size(), 20u);
  for (int r = 5; r <= 10; ++r) {
    EXPECT_EQ(few.transmit(Bytes{0x00, 0xB2, static_cast<std::uint8_t>(r), 0x04, 0x00}),
              sw(0x6A83));
  }
}

TEST_F(FiscCardTest, MalformedCommandsNeverGoUnanswered) {
  EXPECT_EQ(card.transmit(Bytes{}), sw(0x6700));
  EXPECT_EQ(send("00A404"), sw(0x6700));
  EXPECT_EQ(send("80A4040008A00000017295000100"), sw(0x6E00));
  EXPECT_EQ(send("00CA000000"), sw(0x6D00));
  EXPECT_EQ(send("00A4040008A0000001729500"), sw(0x6700));  // Lc says 8, 7 follow
  std::mt19937 random(7);
  for (int i = 0; i < 3000; ++i) {
    Bytes apdu(random() % 300);
    for (auto& b : apdu) b = static_cast<std::uint8_t>(random());
    if (apdu.size() > 1 && random() % 2) apdu[0] = 0x00;
    if (apdu.size() > 4 && random() % 2) apdu[4] = static_cast<std::uint8_t>(apdu.size() - 5);
    EXPECT_GE(card.transmit(apdu).size(), 2u);
  }
  EXPECT_EQ(card.receivedCommands().size(), 3005u);
}

}  // namespace
}  // namespace ruzazuv::sim
