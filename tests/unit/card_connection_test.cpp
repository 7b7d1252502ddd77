// ConnectCard, ReConnectCard, DisConnectCard and the card identity, on the simulated reader.
#include <gtest/gtest.h>

#include "support/control_harness.h"

namespace ruzazuv {
namespace {

using testing::ControlHarness;
using testing::kReader;
using testing::kReaderW;
using testing::makeCard;

constexpr const char* kSelectApplication = "00A4040008A00000017295000100";
constexpr const char* kSelect1001 = "00A40200021001";

class CardConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(c().call(Dispid::ConnectReader), 0);
    c().putText(Dispid::baReaderName, kReaderW);
  }
  CardControl& c() { return h.control(); }
  // The identity as the card's records make it: record 2 then record 3, each without its first
  // two bytes, with the status bytes.
  static std::u16string identityOf(const sim::FiscCard& card) {
    auto part = [&card](int record) {
      auto data = card.record(0x1001, record);
      data.erase(data.begin(), data.begin() + 2);
      return testing::hexOf(data) + "9000";
    };
    return utf8ToUtf16(part(2) + part(3));
  }
  std::vector<PcscCallRecord> calls(PcscCall kind) const {
    std::vector<PcscCallRecord> out;
    for (const auto& r : h.pcsc.calls())
      if (r.call == kind) out.push_back(r);
    return out;
  }
  ControlHarness h;
};

TEST_F(CardConnectionTest, ConnectSelectsTheApplicationAndReadsTheIdentity) {
  ASSERT_EQ(c().call(Dispid::ConnectCard), 0);
  EXPECT_EQ(h.commandsHex(), (std::vector<std::string>{kSelectApplication, kSelect1001,
                                                       "00B2030400", kSelect1001, "00B2020400"}));
  const auto connects = calls(PcscCall::kConnect);
  ASSERT_EQ(connects.size(), 1u);
  EXPECT_EQ(connects[0].shareMode, kShareExclusive);
  EXPECT_EQ(connects[0].preferredProtocols, kProtocolT1);
  EXPECT_EQ(c().getInt(Dispid::ulProtocol), static_cast<int>(kProtocolT1));
  EXPECT_EQ(c().getInt(Dispid::ulLen), 19);  // GetCardStatus ran after the connect
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 0x9000);
  EXPECT_EQ(h.process.cardIdentity.wide(), identityOf(*h.card));
  EXPECT_EQ(h.process.identityReaderName.wide(), kReaderW);
  EXPECT_TRUE(h.process.identityReadOk);
}

TEST_F(CardConnectionTest, TZeroOnlyCardIsAProtocolMismatch) {
  h.pcsc.insertCard(kReader, makeCard("t0-only.json"));
  EXPECT_EQ(c().call(Dispid::ConnectCard), pcsc_code::kProtoMismatch);
  EXPECT_TRUE(h.commands().empty());
  c().putInt(Dispid::iResetType, 1);
  EXPECT_NE(c().call(Dispid::ReConnectCard), 0);
}

TEST_F(CardConnectionTest, MissingApplicationIs1017AndTheCardStaysConnected) {
  h.pcsc.insertCard(kReader, makeCard("no-application.json"));
  EXPECT_EQ(c().call(Dispid::ConnectCard), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1017);
  EXPECT_EQ(h.commands().size(), 1u);  // no identity read
  EXPECT_EQ(c().call(Dispid::DisConnectCard), 0);
}

TEST_F(CardConnectionTest, StatusOnlyCardFailsTheSelection) {
  h.pcsc.insertCard(kReader, makeCard("status-only.json"));
  EXPECT_EQ(c().call(Dispid::ConnectCard), CardControl::kRefused);
  EXPECT_EQ(c().getInt(Dispid::uiSW12), 1017);
}

TEST_F(CardConnectionTest, EmptyOwnReaderNameFailsEvenWhenTheFallbackShowsOne) {
  CardControl& other = h.newControl();
  other.putText(Dispid::baReaderName, u"");
  EXPECT_EQ(other.getText(Dispid::baReaderName), u"");  // no earlier non-empty put in between
  h.control().putText(Dispid::baReaderName, kReaderW);
  EXPECT_EQ(other.getText(Dispid::baReaderName), kReaderW);
  EXPECT_NE(other.call(Dispid::ConnectCard), 0);
  EXPECT_TRUE(h.commands().empty());
}

TEST_F(CardConnectionTest, IdentityIsKeptForTheSameReaderUntilDisconnect) {
  // As winscard has it: a pulled card's stale connection no longer holds the reader.
  h.pcsc.setStaleHandlesHoldReader(false);
  ASSERT_EQ(c().call(Dispid::ConnectCard), 0);
  const std::u16string first = h.process.cardIdentity.wide();
  auto second = makeCard("second-card.json");
  h.pcsc.insertCard(kReader, second);
  ASSERT_EQ(c().call(Dispid::ConnectCard), 0);
  EXPECT_EQ(h.process.cardIdentity.wide(), first);  // swapped without DisConnectCard

  EXPECT_EQ(c().call(Dispid::DisConnectCard), 0);
  EXPECT_EQ(h.process.cardIdentity.wide(), u"");
  ASSERT_EQ(c().call(Dispid::ConnectCard), 0);
  EXPECT_EQ(h.process.cardIdentity.wide(), identityOf(*second));
  EXPECT_NE(identityOf(*second), first);
}

TEST_F(CardConnectionTest, FailedIdentityReadGivesNotAvailableButConnects) {
  // The fourth exchange is the second SELECT of 1001 (for record 2).
  h.pcsc.failCall("transmit", pcsc_code::kRemovedCard, 1, 3);
  EXPECT_EQ(c().call(Dispid::ConnectCard), 0);
  EXPECT_FALSE(h.process.identityReadOk);
  const std::u16string identity = h.process.cardIdentity.wide();
  EXPECT_EQ(identity.substr(0, 3), u"N/A");
  EXPECT_GT(identity.size(), 3u);
}

TEST_F(CardConnectionTest, RefusedRecordsGiveAnEmptyIdentityThatIsReadAgain) {
  h.pcsc.setStaleHandlesHoldReader(false);
  auto faults = h.card->faults();
  faults.missingRecords[0x1001] = {2, 3};
  h.card->setFaults(faults);
  ASSERT_EQ(c().call(Dispid::ConnectCard), 0);
  EXPECT_EQ(h.process.cardIdentity.wide(), u"");
  EXPECT_TRUE(h.process.identityReadOk);
  h.card->setFaults({});
  h.pcsc.insertCard(kReader, h.card);  // out and back in: the exclusive connection is gone
  h.clearCommands();
  ASSERT_EQ(c().call(Dispid::ConnectCard), 0);
  EXPECT_EQ(h.commands().size(), 5u);
  EXPECT_EQ(h.process.cardIdentity.wide(), identityOf(*h.card));
}

TEST_F(CardConnectionTest, ReconnectUsesTheMappedInitialisation) {
  ASSERT_EQ(c().call(Dispid::ConnectCard), 0);
  h.process.pinStore.assign(u"123456FFFFFFFFFF");
  c().putInt(Dispid::iResetType, 0);  // cold reset
  EXPECT_EQ(c().call(Dispid::ReConnectCard), 0);
  c().putInt(Dispid::iResetType, 7);  // leave
  EXPECT_EQ(c().call(Dispid::ReConnectCard), 0);
  const auto reconnects = calls(PcscCall::kReconnect);
  ASSERT_EQ(reconnects.size(), 2u);
  EXPECT_EQ(reconnects[0].initialization, kUnpowerCard);
  EXPECT_EQ(reconnects[0].shareMode, kShareShared);
  EXPECT_EQ(reconnects[0].preferredProtocols, kProtocolT1);
  EXPECT_EQ(reconnects[1].initialization, kLeaveCard);
  EXPECT_EQ(h.process.pinStore.wide(), u"");
  EXPECT_EQ(h.commandsHex().back(), kSelectApplication);
}

TEST_F(CardConnectionTest, DisconnectUsesTheMappedDisposition) {
  ASSERT_EQ(c().call(Dispid::ConnectCard), 0);
  c().putInt(Dispid::iDisConnectType, 9);
  EXPECT_EQ(c().call(Dispid::DisConnectCard), 0);
  const auto disconnects = calls(PcscCall::kDisconnect);
  ASSERT_EQ(disconnects.size(), 1u);
  EXPECT_EQ(disconnects[0].disposition, kEjectCard);
  // The stale handle is passed on and the platform refuses it.
  EXPECT_EQ(c().call(Dispid::DisConnectCard), pcsc_code::kInvalidHandle);
}

// What may happen to the reader between two ConnectCard calls of one process without
// DisConnectCard: a page that loads again, a card pulled out and put back, another card.
enum class Between { kNothing, kSameCardBack, kOtherCard };

class ConnectAgainTest : public CardConnectionTest,
                         public ::testing::WithParamInterface<Between> {};

TEST_P(ConnectAgainTest, ReleasesTheHeldConnectionAndLeavesNoneBehind) {
  ASSERT_EQ(c().call(Dispid::ConnectCard), 0);
  const PcscHandle first = h.process.card;
  if (GetParam() == Between::kSameCardBack) h.pcsc.insertCard(kReader, h.card);
  if (GetParam() == Between::kOtherCard) h.pcsc.insertCard(kReader, makeCard("second-card.json"));

  ASSERT_EQ(c().call(Dispid::ConnectCard), 0);
  EXPECT_NE(h.process.card, first);
  const auto disconnects = calls(PcscCall::kDisconnect);
  ASSERT_EQ(disconnects.size(), 1u);
  EXPECT_EQ(disconnects[0].handle, first);
  EXPECT_EQ(disconnects[0].disposition, kLeaveCard);

  // Once this process lets go, nothing of it holds the reader: another process connects.
  ASSERT_EQ(c().call(Dispid::DisConnectCard), 0);
  ProcessState elsewhere;
  CardControl other(c().services(), elsewhere);
  ASSERT_EQ(other.call(Dispid::ConnectReader), 0);
  other.putText(Dispid::baReaderName, kReaderW);
  EXPECT_EQ(other.call(Dispid::ConnectCard), 0);
}

INSTANTIATE_TEST_SUITE_P(Reader, ConnectAgainTest,
                         ::testing::Values(Between::kNothing, Between::kSameCardBack,
                                           Between::kOtherCard));

TEST_F(CardConnectionTest, RefusedConnectKeepsTheReleasedHandleAndConnectsOnceTheCardIsBack) {
  ASSERT_EQ(c().call(Dispid::ConnectCard), 0);
  const PcscHandle first = h.process.card;
  h.pcsc.removeCard(kReader);
  EXPECT_EQ(c().call(Dispid::ConnectCard), pcsc_code::kNoSmartcard);
  EXPECT_EQ(h.process.card, first);  // the refused connect wrote nothing over it
  EXPECT_EQ(c().call(Dispid::DisConnectCard), pcsc_code::kInvalidHandle);  // already let go
  h.pcsc.insertCard(kReader, h.card);
  ASSERT_EQ(c().call(Dispid::ConnectCard), 0);
  // A handle released once is not released again by a later connect.
  EXPECT_EQ(calls(PcscCall::kDisconnect).size(), 2u);
}

TEST_F(CardConnectionTest, ConnectAfterTheContextWasReleasedReleasesNothing) {
  ASSERT_EQ(c().call(Dispid::ConnectCard), 0);
  ASSERT_EQ(c().call(Dispid::DisConnectReader), 0);
  ASSERT_EQ(c().call(Dispid::ConnectReader), 0);
  ASSERT_EQ(c().call(Dispid::ConnectCard), 0);
  EXPECT_TRUE(calls(PcscCall::kDisconnect).empty());
}

TEST_F(CardConnectionTest, ConnectEmptiesTheStoredPin) {
  ASSERT_EQ(c().call(Dispid::ConnectCard), 0);
  c().putText(Dispid::Pin, u"123456");
  ASSERT_EQ(c().getText(Dispid::Pin), u"123456FFFFFFFFFF");
  ASSERT_EQ(c().call(Dispid::DisConnectCard), 0);
  ASSERT_EQ(c().getText(Dispid::Pin), u"123456FFFFFFFFFF");
  ASSERT_EQ(c().call(Dispid::ConnectCard), 0);
  EXPECT_EQ(c().getText(Dispid::Pin), u"");
}

TEST_F(CardConnectionTest, SelectionFailureAtPcscLevelIsReturned) {
  h.pcsc.failCall("transmit", pcsc_code::kUnresponsiveCard);
  EXPECT_EQ(c().call(Dispid::ConnectCard), pcsc_code::kUnresponsiveCard);
  EXPECT_EQ(h.process.cardIdentity.wide(), u"");
}

}  // namespace
}  // namespace ruzazuv
