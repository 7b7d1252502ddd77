// The Pin put, VerifyPIN, ChangePIN and ReverifyStoredPin against the simulated card.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apdu/hex_codec.h"
#include "support/control_harness.h"
#include "support/scripted_card.h"

namespace ruzazuv::testing {
namespace {

std::string blockHex(const std::array<std::uint8_t, 8>& block) {
  return BytesToHex(block.data(), block.size());
}

class PinTest : public ::testing::Test {
 protected:
  CardControl& c() { return h.control(); }
  std::u16string store() { return c().getText(Dispid::Pin); }

  ControlHarness h;
};

// ---- Pin put ----

TEST_F(PinTest, PinPutBuildsBlockOfDigitsFollowedByF) {
  c().putText(Dispid::Pin, u"123456");
  EXPECT_EQ(store(), u"123456FFFFFFFFFF");
  EXPECT_EQ(c().pinLength(), 6);

  c().putText(Dispid::Pin, u"123456789012");
  EXPECT_EQ(store(), u"123456789012FFFF");
  EXPECT_EQ(c().pinLength(), 12);

  // Characters past the 16th are dropped but still counted.
  c().putText(Dispid::Pin, u"12345678901234567890");
  EXPECT_EQ(store(), u"1234567890123456");
  EXPECT_EQ(c().pinLength(), 20);

  // The put stops at a zero character; each character contributes its low 8 bits.
  c().putText(Dispid::Pin, std::u16string(u"12\0"
                                          u"34",
                                          5));
  EXPECT_EQ(store(), u"12FFFFFFFFFFFFFF");
  EXPECT_EQ(c().pinLength(), 2);
  c().putText(Dispid::Pin, u"\u01311234");
  EXPECT_EQ(store(), u"11234FFFFFFFFFFF");
}

TEST_F(PinTest, PinStoreIsSharedByEveryControlOfTheProcess) {
  c().putText(Dispid::Pin, u"246810");
  CardControl& second = h.newControl();
  EXPECT_EQ(second.getText(Dispid::Pin), u"246810FFFFFFFFFF");
  EXPECT_EQ(second.pinLength(), 0);  // the length belongs to the control that was given the PIN
}

// ---- ChangePIN ----

TEST_F(PinTest, ChangePinRefusesLengthBeforeDigitsAndSendsNothing) {
  h.connectAndVerify();
  h.clearCommands();
  struct Case {
    std::u16string pin;
    std::int32_t code;
  };
  const std::vector<Case> cases = {
      {u"12345", 1001},                 // too short
      {u"1234567890123", 1001},         // too long
      {u"12345678901234567890", 1001},  // 20 characters, 16 kept
      {u"12a", 1001},                   // the length rule is checked first
      {u"12345A", 1002},                // a letter among the digits
      {u"1234 6", 1002},
  };
  for (const Case& k : cases) {
    c().putText(Dispid::Pin, k.pin);
    c().putInt(Dispid::uiSW12, 0);
    EXPECT_EQ(c().call(Dispid::ChangePIN), CardControl::kRefused);
    EXPECT_EQ(c().getInt(Dispid::uiSW12), k.code);
  }
  EXPECT_TRUE(h.commands().empty());
  EXPECT_EQ(blockHex(h.card->pinBlock()), "123456FFFFFFFFFF");
}

TEST_F(PinTest, ChangePinChecksTheCodePageFormNotTheLowBitsOfEachCharacter) {
  h.connectAndVerify();
  c().putText(Dispid::Pin, u"123456");
  // A block kept by VerifyPIN whose sixth character is U+0131: its low 8 bits read as "1".
  c().putText(Dispid::baBuf, u"12345\u0131FFFFFFFFFF");
  c().call(Dispid::VerifyPIN);
  h.clearCommands();
  EXPECT_EQ(c().call(Dispid::ChangePIN), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1002);
  EXPECT_TRUE(h.commands().empty());
}

TEST_F(PinTest, DisabledRulesLetOtherwiseRefusedPinsThrough) {
  h.connectAndVerify();
  h.clearCommands();

  // Any value other than 1 disables a rule.
  c().putInt(Dispid::CheckPINLength, 0);
  c().putText(Dispid::Pin, u"12345");
  ASSERT_EQ(c().call(Dispid::ChangePIN), 0);
  EXPECT_EQ(h.commandsHex(), (std::vector<std::string>{"00A402000200C2",
                                                       "00D2010408"
                                                       "12345FFFFFFFFFFF"}));
  EXPECT_EQ(blockHex(h.card->pinBlock()), "12345FFFFFFFFFFF");

  // Seventeen digits: the block holds sixteen, and the seventeenth position is past its end.
  c().putText(Dispid::Pin, u"12345678901234567");
  EXPECT_EQ(c().call(Dispid::ChangePIN), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1002);

  c().putInt(Dispid::CheckPINLength, 1);
  c().putInt(Dispid::CheckPINType, 2);
  c().putText(Dispid::Pin, u"12345A");
  ASSERT_EQ(c().call(Dispid::ChangePIN), 0);
  EXPECT_EQ(blockHex(h.card->pinBlock()), "12345AFFFFFFFFFF");
}

TEST_F(PinTest, ChangePinWithNoBlockHeldWritesNothing) {
  // ConnectCard empties the store; with both rules off an all-F block would otherwise be written.
  h.connectAndVerify();
  c().putText(Dispid::Pin, u"654321");
  ASSERT_EQ(c().call(Dispid::ReConnectCard), 0);
  ASSERT_EQ(store(), u"");
  c().putInt(Dispid::CheckPINLength, 0);
  c().putInt(Dispid::CheckPINType, 0);
  h.clearCommands();
  EXPECT_EQ(c().call(Dispid::ChangePIN), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1001);
  EXPECT_TRUE(h.commands().empty());
  EXPECT_EQ(blockHex(h.card->pinBlock()), "123456FFFFFFFFFF");
}

TEST_F(PinTest, NoPinBlockOutlivesItsExchange) {
  h.connectAndVerify();
  c().putText(Dispid::Pin, u"654321");
  ASSERT_EQ(c().call(Dispid::ChangePIN), 0);
  for (std::uint8_t b : c().sendBuffer()) ASSERT_EQ(b, 0);
}

TEST_F(PinTest, ChangedPinVerifiesAndTheOldOneNoLonger) {
  h.connectAndVerify();
  c().putText(Dispid::Pin, u"654321");
  h.clearCommands();
  ASSERT_EQ(c().call(Dispid::ChangePIN), 0);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x9000);
  EXPECT_EQ(h.commandsHex().back(), "00D2010408654321FFFFFFFFFF");

  c().putText(Dispid::baBuf, u"123456FFFFFFFFFF");
  ASSERT_EQ(c().call(Dispid::VerifyPIN), 0);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x63C2);
  c().putText(Dispid::baBuf, u"654321FFFFFFFFFF");
  ASSERT_EQ(c().call(Dispid::VerifyPIN), 0);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x9000);
}

TEST_F(PinTest, ChangePinReportsTheCardsVerdictAndTheFirstFailedExchange) {
  h.connect();
  // Without a verified PIN the card refuses the write; the method still returns 0.
  c().putText(Dispid::Pin, u"654321");
  ASSERT_EQ(c().call(Dispid::ChangePIN), 0);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x6982);
  EXPECT_EQ(blockHex(h.card->pinBlock()), "123456FFFFFFFFFF");

  // A failed SELECT: no write is attempted.
  h.clearCommands();
  h.pcsc.failCall("transmit", pcsc_code::kRemovedCard);
  EXPECT_EQ(c().call(Dispid::ChangePIN), pcsc_code::kRemovedCard);
  EXPECT_TRUE(h.commands().empty());

  // A failed write: its own result.
  h.pcsc.failCall("transmit", pcsc_code::kNotReady, 1, 1);
  EXPECT_EQ(c().call(Dispid::ChangePIN), pcsc_code::kNotReady);
  EXPECT_EQ(h.commandsHex(), (std::vector<std::string>{"00A402000200C2"}));
}

// ---- VerifyPIN ----

TEST_F(PinTest, VerifySendsTheBlockWithBpqAsP2AndStoresIt) {
  h.connect();
  h.clearCommands();
  c().putText(Dispid::baBuf, u"123456FFFFFFFFFF");
  c().putInt(Dispid::bPq, 16);
  ASSERT_EQ(c().call(Dispid::VerifyPIN), 0);
  EXPECT_EQ(h.commandsHex(), (std::vector<std::string>{"0020001008123456FFFFFFFFFF"}));
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x9000);
  EXPECT_EQ(store(), u"123456FFFFFFFFFF");
}

TEST_F(PinTest, WrongPinIsStoredAndReportedOnlyThroughTheStatusWord) {
  h.connect();
  c().putText(Dispid::baBuf, u"111111FFFFFFFFFF");
  c().putInt(Dispid::bPq, 0x10);
  ASSERT_EQ(c().call(Dispid::VerifyPIN), 0);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x63C2);
  EXPECT_EQ(store(), u"111111FFFFFFFFFF");
  EXPECT_EQ(h.card->triesLeft(), 2);

  // Three wrong tries block the PIN; then even the right one is refused.
  ASSERT_EQ(c().call(Dispid::VerifyPIN), 0);
  ASSERT_EQ(c().call(Dispid::VerifyPIN), 0);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x6983);
  c().putText(Dispid::baBuf, u"123456FFFFFFFFFF");
  ASSERT_EQ(c().call(Dispid::VerifyPIN), 0);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x6983);
}

TEST_F(PinTest, MissingInputsAreRefusedBeforeAnyCommandWithBlockCheckedFirst) {
  h.connect();
  h.clearCommands();
  c().putText(Dispid::Pin, u"999999");

  c().putText(Dispid::baBuf, u"");
  c().putInt(Dispid::bPq, 0);
  EXPECT_EQ(c().call(Dispid::VerifyPIN), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1013);

  c().putInt(Dispid::bPq, 0x10);
  EXPECT_EQ(c().call(Dispid::VerifyPIN), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1013);

  c().putText(Dispid::baBuf, u"123456FFFFFFFFFF");
  c().putInt(Dispid::bPq, 0);
  EXPECT_EQ(c().call(Dispid::VerifyPIN), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1014);

  EXPECT_TRUE(h.commands().empty());
  EXPECT_EQ(store(), u"999999FFFFFFFFFF");  // nothing stored when refused
}

TEST_F(PinTest, ReaderListedWithoutPullPlugLeavesPinStoreAlone) {
  c().putText(Dispid::noPullPlugReader, u"Other Reader;Test Reader 0;");
  h.connect();  // puts baReaderName, which finds the reader in the list
  ASSERT_EQ(c().getText(Dispid::isPullPlugReader), u"False");
  c().putText(Dispid::Pin, u"999999");
  h.clearCommands();

  c().putText(Dispid::baBuf, u"123456FFFFFFFFFF");
  c().putInt(Dispid::bPq, 0x10);
  ASSERT_EQ(c().call(Dispid::VerifyPIN), 0);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x9000);  // the card is still asked
  EXPECT_EQ(h.commands().size(), 1u);
  EXPECT_EQ(store(), u"999999FFFFFFFFFF");
}

TEST_F(PinTest, BpqGivesItsLowByteAsP2) {
  h.connect();
  c().putText(Dispid::baBuf, u"123456FFFFFFFFFF");
  struct Case {
    std::int32_t bPq;
    const char* p2;
  };
  // The decimal-digit values arrive unchanged; every other value is sent as its low byte.
  const std::vector<Case> cases = {{0x10, "10"},  {0x45, "45"}, {0x99, "99"},
                                   {5, "05"},     {0x1A, "1A"}, {0xA0, "A0"},
                                   {0x123, "23"}, {-1, "FF"},   {-32768, "00"}};
  for (const Case& k : cases) {
    h.clearCommands();
    c().putInt(Dispid::bPq, k.bPq);
    ASSERT_EQ(c().call(Dispid::VerifyPIN), 0) << k.bPq;
    ASSERT_EQ(h.commandsHex().size(), 1u);
    EXPECT_EQ(h.commandsHex()[0], std::string("002000") + k.p2 + "08123456FFFFFFFFFF") << k.bPq;
  }
}

TEST_F(PinTest, BlockOfOtherLengthsAlwaysSendsEightBytes) {
  h.connect();
  c().putInt(Dispid::bPq, 0x10);

  // Missing characters are sent as F.
  h.clearCommands();
  c().putText(Dispid::baBuf, u"12345");
  ASSERT_EQ(c().call(Dispid::VerifyPIN), 0);
  EXPECT_EQ(h.commandsHex(), (std::vector<std::string>{"002000100812345FFFFFFFFFFF"}));
  EXPECT_EQ(store(), u"12345");

  // Characters past the 16th are not sent.
  h.clearCommands();
  c().putText(Dispid::baBuf, u"123456FFFFFFFFFF0011");
  ASSERT_EQ(c().call(Dispid::VerifyPIN), 0);
  EXPECT_EQ(h.commandsHex(), (std::vector<std::string>{"0020001008123456FFFFFFFFFF"}));
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x9000);
}

TEST_F(PinTest, VerifyPassesATransmitFailureOnAfterStoringTheBlock) {
  h.connect();
  h.pcsc.failCall("transmit", pcsc_code::kRemovedCard);
  c().putText(Dispid::baBuf, u"123456FFFFFFFFFF");
  c().putInt(Dispid::bPq, 0x10);
  EXPECT_EQ(c().call(Dispid::VerifyPIN), pcsc_code::kRemovedCard);
  EXPECT_EQ(store(), u"123456FFFFFFFFFF");
}

// ---- ReverifyStoredPin ----

TEST_F(PinTest, ReverifySendsTheStoredBlockWithP2TenAndReadsTheVerdict) {
  h.connectAndVerify();
  c().putInt(Dispid::bPq, 0x25);
  h.clearCommands();
  EXPECT_EQ(c().ReverifyStoredPin(), 0);
  EXPECT_EQ(h.commandsHex(), (std::vector<std::string>{"0020001008123456FFFFFFFFFF"}));

  c().putText(Dispid::Pin, u"999999");
  c().putInt(Dispid::uiSW12, 0);
  EXPECT_EQ(c().ReverifyStoredPin(), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x63C2);  // the card's answer, no detail code

  h.pcsc.failCall("transmit", pcsc_code::kResetCard);
  EXPECT_EQ(c().ReverifyStoredPin(), pcsc_code::kResetCard);
}

TEST_F(PinTest, ReverifyDoesNotTakeAnEarlierAnswerForTheCardsVerdict) {
  auto scripted = std::make_shared<ScriptedCard>(h.card);
  h.pcsc.insertCard(kReader, scripted);
  h.connectAndVerify();
  ASSERT_EQ(c().ReverifyStoredPin(), 0);
  // A one-byte answer: the second byte in the buffer is left from the 90 00 before it.
  scripted->answer("0020001008123456FFFFFFFFFF", "90");
  EXPECT_EQ(c().ReverifyStoredPin(), CardControl::kRefused);
}

}  // namespace
}  // namespace ruzazuv::testing
