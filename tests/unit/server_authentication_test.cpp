// GenRandomNumber, AuthenServer and EncryptOutput, with OpenSSL's AES as the reference.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cctype>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "apdu/hex_codec.h"
#include "support/control_harness.h"

namespace ruzazuv::testing {
namespace {

using sim::CardFaults;

// AES-128 ECB of `plain` padded with the character 0 to whole blocks, under the control's key
// text taken character by character, as upper-case hex.
std::string referenceEncryption(std::string plain) {
  static const unsigned char kKey[] = "5e0b7c19d2a4f836";
  plain.append((16 - plain.size() % 16) % 16, '0');
  std::vector<unsigned char> out(plain.size() + 16);
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                      &EVP_CIPHER_CTX_free);
  int written = 0;
  int last = 0;
  if (EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, kKey, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
      EVP_EncryptUpdate(ctx.get(), out.data(), &written,
                        reinterpret_cast<const unsigned char*>(plain.data()),
                        static_cast<int>(plain.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), out.data() + written, &last) != 1) {
    ADD_FAILURE() << "OpenSSL refused the reference encryption";
    return {};
  }
  return BytesToHex(out.data(), static_cast<std::size_t>(written + last));
}

std::u16string wide(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}
std::string narrow(std::u16string_view w) {
  return std::string(w.begin(), w.end());
}

class ServerAuthenticationTest : public ::testing::Test {
 protected:
  CardControl& c() { return h.control(); }
  std::string expected() { return narrow(h.process.expectedServerAnswer.wide()); }
  std::string random() { return narrow(c().getText(Dispid::randomNumber)); }
  std::int32_t authenticate(std::string_view answer) {
    c().putText(Dispid::OptionData1, wide(answer));
    return c().call(Dispid::AuthenServer);
  }

  ControlHarness h;
};

// ---- GenRandomNumber ----

TEST_F(ServerAuthenticationTest, ChallengeHandsOutTheCardsRandomNumberAndKeepsItsEncryption) {
  h.connect();
  h.clearCommands();
  c().putText(Dispid::OptionData1, u"page data");
  c().putText(Dispid::TAC, u"old tac");

  ASSERT_EQ(c().call(Dispid::GenRandomNumber), 0);
  EXPECT_EQ(h.commandsHex(), (std::vector<std::string>{"0086000008"}));
  EXPECT_TRUE(std::regex_match(random(), std::regex("[0-9A-F]{16}"))) << random();
  EXPECT_EQ(random(), hexOf(h.card->lastRandom()));
  EXPECT_EQ(c().getText(Dispid::TAC), c().getText(Dispid::randomNumber));
  EXPECT_EQ(c().getText(Dispid::OptionData1), u"");
  EXPECT_EQ(expected().size(), 32u);
  EXPECT_EQ(expected(), referenceEncryption(random()));
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x9000);
}

TEST_F(ServerAuthenticationTest, EveryChallengeIsNew) {
  h.connect();
  ASSERT_EQ(c().call(Dispid::GenRandomNumber), 0);
  const std::string first = random();
  const std::string firstAnswer = expected();
  ASSERT_EQ(c().call(Dispid::GenRandomNumber), 0);
  EXPECT_NE(random(), first);
  EXPECT_NE(expected(), firstAnswer);
  EXPECT_EQ(expected(), referenceEncryption(random()));
}

TEST_F(ServerAuthenticationTest, FailedExchangeGivesErrorAndOneAndChangesNothingElse) {
  h.connect();
  ASSERT_EQ(c().call(Dispid::GenRandomNumber), 0);
  const std::string kept = expected();
  c().putText(Dispid::OptionData1, u"page data");
  c().putText(Dispid::TAC, u"old tac");

  h.pcsc.failCall("transmit", pcsc_code::kRemovedCard);
  EXPECT_EQ(c().call(Dispid::GenRandomNumber), 1);
  EXPECT_EQ(c().getText(Dispid::randomNumber), u"Error");
  EXPECT_EQ(c().getText(Dispid::OptionData1), u"page data");
  EXPECT_EQ(c().getText(Dispid::TAC), u"old tac");
  EXPECT_EQ(expected(), kept);
}

TEST_F(ServerAuthenticationTest, StatusOnlyAnswerCompletesTheChallengeOverTheTextError) {
  h.connect();
  CardFaults faults;
  faults.statusOnly = true;
  h.card->setFaults(faults);
  c().putText(Dispid::OptionData1, u"page data");

  EXPECT_EQ(c().call(Dispid::GenRandomNumber), 0);
  EXPECT_EQ(c().getText(Dispid::randomNumber), u"Error");
  EXPECT_EQ(c().getText(Dispid::TAC), u"Error");
  EXPECT_EQ(c().getText(Dispid::OptionData1), u"");
  EXPECT_EQ(expected(), referenceEncryption("Error"));
  EXPECT_EQ(authenticate(referenceEncryption("Error")), 0);
}

// ---- AuthenServer ----

TEST_F(ServerAuthenticationTest, AnswerMustMatchTheFirstThirtyTwoCharactersExactly) {
  h.connect();
  ASSERT_EQ(c().call(Dispid::GenRandomNumber), 0);
  const std::string answer = referenceEncryption(random());

  EXPECT_EQ(authenticate(answer), 0);
  EXPECT_EQ(authenticate(answer + "anything after"), 0);

  std::string lower = answer;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  ASSERT_NE(lower, answer);  // the answer has letters to lower
  const std::vector<std::string> wrong = {lower, answer.substr(0, 31), "", std::string(32, '0')};
  for (const std::string& w : wrong) {
    c().putInt(Dispid::uiSW12, 0);
    EXPECT_EQ(authenticate(w), CardControl::kRefused) << w;
    EXPECT_EQ(c().getInt(Dispid::uiSW12), 1019) << w;
  }
}

TEST_F(ServerAuthenticationTest, MismatchHandsThePageNothingThatWouldPassTheNextCall) {
  h.connect();
  ASSERT_EQ(c().call(Dispid::GenRandomNumber), 0);
  const std::string rn = random();
  c().putText(Dispid::TAC, u"something else");

  EXPECT_EQ(authenticate(std::string(32, 'A')), CardControl::kRefused);
  EXPECT_EQ(c().getText(Dispid::OptionData1), u"");
  EXPECT_EQ(c().getText(Dispid::TAC), wide(rn));
  EXPECT_EQ(expected(), referenceEncryption(rn));
  // Asked again with nothing changed, the control still refuses.
  EXPECT_EQ(c().call(Dispid::AuthenServer), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1019);
}

TEST_F(ServerAuthenticationTest, ConnectedCardUsesTheKeptAnswerAndDisconnectedTheCurrentNumber) {
  h.connect();
  ASSERT_EQ(c().call(Dispid::GenRandomNumber), 0);
  const std::string rn = random();
  const std::string answer = referenceEncryption(rn);

  // While connected the kept answer decides, whatever randomNumber now holds.
  c().putText(Dispid::randomNumber, u"0011223344556677");
  EXPECT_EQ(authenticate(answer), 0);
  // A control that generated nothing compares against the process's kept answer too.
  CardControl& other = h.newControl();
  other.putText(Dispid::OptionData1, wide(answer));
  EXPECT_EQ(other.call(Dispid::AuthenServer), 0);

  // After the disconnect the answer is recomputed from the current randomNumber.
  ASSERT_EQ(c().call(Dispid::DisConnectCard), 0);
  c().putText(Dispid::randomNumber, wide(rn));
  EXPECT_EQ(authenticate(answer), 0);
  c().putText(Dispid::randomNumber, u"0011223344556677");
  EXPECT_EQ(authenticate(answer), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1019);
  EXPECT_EQ(expected(), referenceEncryption("0011223344556677"));
  EXPECT_EQ(authenticate(referenceEncryption("0011223344556677")), 0);
}

TEST_F(ServerAuthenticationTest, EmptyRandomNumberFailsWithoutAnException) {
  // No challenge ever generated: randomNumber is absent and the kept answer empty.
  EXPECT_EQ(authenticate(""), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1019);
  EXPECT_EQ(authenticate(referenceEncryption("")), CardControl::kRefused);
  EXPECT_EQ(c().getText(Dispid::OptionData1), u"");
  EXPECT_EQ(expected(), "");

  // Through the dispatch surface the call completes normally as well.
  c().putText(Dispid::randomNumber, u"");
  std::int32_t ret = 0;
  EXPECT_EQ(c().invoke(static_cast<int>(Dispid::AuthenServer), &ret), hresult::kOk);
  EXPECT_EQ(ret, CardControl::kRefused);
}

// ---- EncryptOutput ----

TEST_F(ServerAuthenticationTest, EncryptOutputReplacesOptionData1WithTheEncryptionOfBoth) {
  c().putText(Dispid::TAC, u"0123456789ABCDEF");
  c().putText(Dispid::OptionData1, u"");
  ASSERT_TRUE(c().EncryptOutput());
  const std::string alone = narrow(c().getText(Dispid::OptionData1));
  EXPECT_EQ(alone, referenceEncryption("0123456789ABCDEF"));

  c().putText(Dispid::OptionData1, u"FEDCBA9876543210");
  ASSERT_TRUE(c().EncryptOutput());
  const std::string both = narrow(c().getText(Dispid::OptionData1));
  EXPECT_EQ(both.size(), 64u);
  EXPECT_EQ(both.substr(0, 32), alone);
  EXPECT_EQ(both, referenceEncryption("0123456789ABCDEFFEDCBA9876543210"));
  EXPECT_EQ(c().getText(Dispid::TAC), u"0123456789ABCDEF");
}

TEST_F(ServerAuthenticationTest, EncryptOutputOfNothingLeavesOptionData1EmptyAndReportsFalse) {
  c().putText(Dispid::TAC, u"");
  c().putText(Dispid::OptionData1, u"");
  EXPECT_FALSE(c().EncryptOutput());
  EXPECT_EQ(c().getText(Dispid::OptionData1), u"");
}

TEST_F(ServerAuthenticationTest, EncryptOutputEncryptsInputsBeyondTheUsualLimitCompletely) {
  const std::string tac(600, '7');
  std::string data;
  for (int i = 0; i < 509; ++i) data.push_back(static_cast<char>('A' + i % 26));
  c().putText(Dispid::TAC, wide(tac));
  c().putText(Dispid::OptionData1, wide(data));
  ASSERT_TRUE(c().EncryptOutput());
  const std::string out = narrow(c().getText(Dispid::OptionData1));
  EXPECT_EQ(out.size(), 2u * 1120u);  // 1109 characters padded to 70 blocks
  EXPECT_EQ(out, referenceEncryption(tac + data));
}

}  // namespace
}  // namespace ruzazuv::testing
