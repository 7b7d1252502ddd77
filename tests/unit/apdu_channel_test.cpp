// The hex codec, the command layout of TransmitApdu, the status word and the field cutters.
#include <gtest/gtest.h>

#include "apdu/hex_codec.h"
#include "support/control_harness.h"

namespace ruzazuv {
namespace {

using testing::ControlHarness;
using testing::kReader;

TEST(HexCodec, ConvertsAsTheCardTextAlphabetHasIt) {
  std::uint8_t b[4] = {};
  EXPECT_EQ(HexToBytes("1A", b, 1), 1);
  EXPECT_EQ(b[0], 0x1A);
  HexToBytes("1a", b, 1);
  EXPECT_EQ(b[0], 0x3A);  // lower case is not a hex digit: 'a' - 55 = 42
  HexToBytes("ab", b, 1);
  EXPECT_EQ(b[0], 0xCB);
  HexToBytes(
      "\x80"
      "0",
      b, 1);  // bytes above 0x7F compare as negative: c - 48
  EXPECT_EQ(b[0], static_cast<std::uint8_t>(((-128 - 48) * 16) & 0xFF));
  EXPECT_EQ(BytesToHex(3, std::array<std::uint8_t, 3>{0x0A, 0xFF, 0x00}.data()), "0AFF00");
  EXPECT_EQ(BytesToHex(0, b), "");
  EXPECT_EQ(BytesToHex(-3, b), "");
}

TEST(HexCodec, NeverReadsPastTheTextAndNeverWritesForNonPositiveCounts) {
  std::uint8_t b[3] = {0x11, 0x22, 0x33};
  EXPECT_EQ(HexToBytes("12", b, 0), 0);
  EXPECT_EQ(HexToBytes("12", b, -1), 0);
  EXPECT_EQ(b[0], 0x11);
  EXPECT_EQ(HexToBytes("123", b, 3), 3);  // missing characters convert as "F"
  EXPECT_EQ(b[0], 0x12);
  EXPECT_EQ(b[1], 0x3F);
  EXPECT_EQ(b[2], 0xFF);
}

TEST(HexCodec, SlicesByOffsetAndCount) {
  const std::uint8_t src[] = {1, 2, 3, 4, 5};
  EXPECT_EQ(SliceBytes(src, 1, 3), std::string("\x02\x03\x04", 3));
  EXPECT_EQ(SliceBytes(src, 1, 0), "");
  EXPECT_EQ(SliceBytes(src, 1, -2), "");
}

class ApduChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    h.connect();
    h.clearCommands();
  }
  CardControl& c() { return h.control(); }
  ControlHarness h;
};

TEST_F(ApduChannelTest, BuildsEachCommandCaseFromItsFragments) {
  EXPECT_EQ(c().TransmitApdu("00", "A4", "02", "00", "02", "1001"), 0);
  EXPECT_EQ(c().TransmitApdu("00", "B2", "01", "04", std::nullopt, {}, "00"), 0);
  EXPECT_EQ(c().TransmitApdu("00", "A4", "04", "00", "08", "A000000172950001", "00"), 0);
  EXPECT_EQ(c().TransmitApdu("00", "A4", "04", "00"), 0);            // case 1
  EXPECT_EQ(c().TransmitApdu("00", "A4", "04", "00", "00", ""), 0);  // Lc 00: a body of 00 alone
  EXPECT_EQ(h.commandsHex(),
            (std::vector<std::string>{"00A40200021001", "00B2010400",
                                      "00A4040008A00000017295000100", "00A40400", "00A4040000"}));
}

TEST_F(ApduChannelTest, ShortDataIsFilledWithFAndTheLargestCommandFits) {
  EXPECT_EQ(c().TransmitApdu("00", "20", "00", "10", "08", "1234"), 0);
  EXPECT_EQ(h.commandsHex().back(),
            "002000100812"
            "34FFFFFFFFFFFF");
  const std::string data(510, 'A');
  c().TransmitApdu("80", "CA", "00", "00", "FF", data, "00");
  const auto sent = h.commands().back();
  EXPECT_EQ(sent.size(), 261u);
  EXPECT_EQ(sent[4], 0xFF);
  EXPECT_EQ(sent[5], 0xAA);
  EXPECT_EQ(sent.back(), 0x00);
}

TEST_F(ApduChannelTest, StatusWordFollowsEveryExchange) {
  ASSERT_EQ(c().TransmitApdu("00", "A4", "02", "00", "02", "1001"), 0);
  EXPECT_EQ(c().recvLength(), 2u);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 36864);
  ASSERT_EQ(c().TransmitApdu("00", "A4", "02", "00", "02", "4242"), 0);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x6A82);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 27266);
}

TEST_F(ApduChannelTest, FailedExchangeIsReturnedUnchanged) {
  c().putInt(Dispid::uiSW12, 1234);
  h.pcsc.failCall("transmit", pcsc_code::kRemovedCard);
  EXPECT_EQ(c().TransmitApdu("00", "B2", "01", "04", std::nullopt, {}, "00"),
            pcsc_code::kRemovedCard);
  EXPECT_TRUE(h.commands().empty());
  h.pcsc.removeCard(kReader);
  EXPECT_EQ(c().TransmitApdu("00", "B2", "01", "04", std::nullopt, {}, "00"),
            pcsc_code::kRemovedCard);
}

TEST_F(ApduChannelTest, FieldsEndWithTheBytesTheLastExchangeReceived) {
  // A long response first, then a short one: nothing of the long one shows through.
  ASSERT_EQ(c().TransmitApdu("00", "A4", "02", "00", "02", "1001"), 0);
  ASSERT_EQ(c().TransmitApdu("00", "B2", "03", "04", std::nullopt, {}, "00"), 0);  // account
  ASSERT_GE(c().recvLength(), 18u);
  EXPECT_EQ(c().ResponseText(2, 16), h.card->profile().accounts.at(0));
  ASSERT_EQ(c().TransmitApdu("00", "A4", "02", "00", "02", "1001"), 0);  // 90 00 alone
  EXPECT_EQ(c().ResponseHex(0, 20), "9000");
  EXPECT_EQ(c().ResponseText(2, 16), "");
  // As text the field ends at the first zero byte.
  EXPECT_EQ(c().ResponseText(0, 2), "\x90");
  EXPECT_EQ(c().ResponseHex(1020, 16), "");
}

}  // namespace
}  // namespace ruzazuv
