#include "platform/simulated_pcsc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace ruzazuv {
namespace {

using namespace pcsc_code;
using Bytes = std::vector<std::uint8_t>;

// A card that answers every command with a fixed response and counts its resets.
class FixedCard : public SimulatedCard {
 public:
  explicit FixedCard(Bytes atr = {0x3B, 0x02, 0x14, 0x50}, std::uint32_t protocols = kProtocolT1,
                     Bytes response = {0x90, 0x00})
      : atr_(std::move(atr)), protocols_(protocols), response_(std::move(response)) {}
  Bytes atr() const override { return atr_; }
  std::uint32_t protocols() const override { return protocols_; }
  void reset() override { ++resets; }
  Bytes transmit(std::span<const std::uint8_t>) override { return response_; }
  std::atomic<int> resets{0};

 private:
  Bytes atr_;
  std::uint32_t protocols_;
  Bytes response_;
};

const Bytes kSelect = {0x00, 0xA4, 0x02, 0x00, 0x02, 0x10, 0x01};

class SimulatedPcscTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pcsc.addReader(kReader);
    pcsc.insertCard(kReader, card);
    ASSERT_EQ(pcsc.establishContext(0, &context), kSuccess);
  }

  PcscHandle connect(std::uint32_t share = kShareExclusive, PcscResult expected = kSuccess) {
    PcscHandle h = 0;
    std::uint32_t protocol = 0;
    EXPECT_EQ(pcsc.connect(context, kReader, share, kProtocolT1, &h, &protocol), expected);
    return h;
  }

  PcscResult send(PcscHandle h, std::uint32_t protocol = kProtocolT1) {
    std::uint8_t recv[272];
    std::uint32_t length = sizeof recv;
    return pcsc.transmit(h, protocol, kSelect.data(), static_cast<std::uint32_t>(kSelect.size()),
                         recv, &length);
  }

  ReaderState query(const char* name, PcscResult expected = kSuccess) {
    ReaderState s;
    s.reader = name;
    s.eventState = 0xDEAD;
    EXPECT_EQ(pcsc.getStatusChange(context, 0, &s, 1), expected);
    return s;
  }

  std::uint32_t cardState(PcscHandle h, PcscResult expected = kSuccess) {
    std::uint32_t state = 99, protocol = 0, nameLength = 200, atrLength = 32;
    std::uint8_t atr[32];
    EXPECT_EQ(pcsc.status(h, nullptr, &nameLength, &state, &protocol, atr, &atrLength), expected);
    return state;
  }

  static constexpr const char* kReader = "Virtual PCD 00 00";
  SimulatedPcsc pcsc;
  std::shared_ptr<FixedCard> card = std::make_shared<FixedCard>();
  PcscContext context = 0;
};

TEST_F(SimulatedPcscTest, ReleasedOrUnknownContextIsInvalid) {
  PcscContext other = 0;
  ASSERT_EQ(pcsc.establishContext(0, &other), kSuccess);
  EXPECT_NE(other, context);
  EXPECT_EQ(pcsc.establishContext(7, &other), kInvalidValue);
  EXPECT_EQ(pcsc.releaseContext(context), kSuccess);
  EXPECT_EQ(pcsc.releaseContext(context), kInvalidHandle);
  char buffer[64];
  std::uint32_t length = sizeof buffer;
  EXPECT_EQ(pcsc.listReaders(context, buffer, &length), kInvalidHandle);
  query(kReader, kInvalidHandle);
  PcscHandle h;
  std::uint32_t protocol;
  EXPECT_EQ(pcsc.connect(context, kReader, kShareShared, kProtocolT1, &h, &protocol),
            kInvalidHandle);
  EXPECT_EQ(pcsc.listReaders(12345, buffer, &length), kInvalidHandle);
}

TEST_F(SimulatedPcscTest, ListsEveryReaderAsMultiString) {
  const std::string longName(1500, 'R');
  for (int i = 1; i < 6; ++i) pcsc.addReader("Reader " + std::to_string(i));
  pcsc.addReader(longName);
  std::string expected = std::string(kReader) + '\0';
  for (int i = 1; i < 6; ++i) expected += "Reader " + std::to_string(i) + '\0';
  expected += longName + '\0' + '\0';

  std::uint32_t length = 0;
  ASSERT_EQ(pcsc.listReaders(context, nullptr, &length), kSuccess);
  EXPECT_EQ(length, expected.size());

  std::vector<char> buffer(expected.size() - 1);
  length = static_cast<std::uint32_t>(buffer.size());
  EXPECT_EQ(pcsc.listReaders(context, buffer.data(), &length), kInsufficientBuffer);
  EXPECT_EQ(length, expected.size());

  buffer.assign(2048, 'x');
  length = 2048;
  ASSERT_EQ(pcsc.listReaders(context, buffer.data(), &length), kSuccess);
  EXPECT_EQ(std::string(buffer.data(), length), expected);
  EXPECT_EQ(buffer[length], 'x');  // nothing written past the list
}

TEST_F(SimulatedPcscTest, NoReadersAvailableOnceTheLastIsUnplugged) {
  pcsc.removeReader(kReader);
  char buffer[16];
  std::uint32_t length = sizeof buffer;
  EXPECT_EQ(pcsc.listReaders(context, buffer, &length), kNoReadersAvailable);
  query(kReader, kUnknownReader);
}

TEST_F(SimulatedPcscTest, StatusChangeReportsPresenceAtrAndEventCount) {
  auto present = query(kReader);
  EXPECT_EQ(present.eventState, (1u << 16) | kStatePresent | kStateChanged);
  ASSERT_EQ(present.atrLength, 4u);
  EXPECT_EQ(Bytes(present.atr, present.atr + 4), card->atr());

  pcsc.removeCard(kReader);
  auto empty = query(kReader);
  EXPECT_EQ(empty.eventState, (2u << 16) | kStateEmpty | kStateChanged);
  EXPECT_EQ(empty.atrLength, 0u);

  // Told the state it already knows, with no time to wait, nothing has changed.
  ReaderState again = empty;
  again.currentState = empty.eventState;
  EXPECT_EQ(pcsc.getStatusChange(context, 0, &again, 1), kTimeout);
}

TEST_F(SimulatedPcscTest, StatusChangeRefusesUnknownAndMissingNamesWithoutWriting) {
  EXPECT_EQ(query("No such reader", kUnknownReader).eventState, 0xDEADu);
  EXPECT_EQ(query("", kUnknownReader).eventState, 0xDEADu);
  EXPECT_EQ(query(nullptr, kInvalidValue).eventState, 0xDEADu);
}

TEST_F(SimulatedPcscTest, StatusChangeShowsHowTheReaderIsShared) {
  PcscHandle h = connect(kShareExclusive);
  EXPECT_TRUE(query(kReader).eventState & kStateExclusive);
  pcsc.removeCard(kReader);
  // pcsc-lite keeps showing the exclusive connection with the reader empty.
  EXPECT_EQ(query(kReader).eventState & 0xFFFF, kStateEmpty | kStateExclusive | kStateChanged);
  ASSERT_EQ(pcsc.disconnect(h, kLeaveCard), kSuccess);
  pcsc.insertCard(kReader, card);
  connect(kShareShared);
  EXPECT_EQ(query(kReader).eventState & 0xFFFF, kStatePresent | kStateInUse | kStateChanged);
}

TEST_F(SimulatedPcscTest, StatusChangeWaitsForAnInsertion) {
  pcsc.removeCard(kReader);
  ReaderState s;
  s.reader = kReader;
  s.currentState = query(kReader).eventState;
  std::thread inserter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pcsc.insertCard(kReader, card);
  });
  EXPECT_EQ(pcsc.getStatusChange(context, 0xFFFFFFFF, &s, 1), kSuccess);
  inserter.join();
  EXPECT_TRUE(s.eventState & kStatePresent);
  EXPECT_TRUE(s.eventState & kStateChanged);
}

TEST_F(SimulatedPcscTest, ConnectRefusesMissingReadersCardsAndProtocols) {
  PcscHandle h = 0;
  std::uint32_t protocol = 0;
  EXPECT_EQ(pcsc.connect(context, nullptr, kShareExclusive, kProtocolT1, &h, &protocol),
            kUnknownReader);
  EXPECT_EQ(pcsc.connect(context, "", kShareExclusive, kProtocolT1, &h, &protocol), kUnknownReader);
  EXPECT_EQ(pcsc.connect(context, "Other", kShareExclusive, kProtocolT1, &h, &protocol),
            kUnknownReader);
  EXPECT_EQ(pcsc.connect(context, kReader, 9, kProtocolT1, &h, &protocol), kInvalidValue);

  pcsc.insertCard(kReader, std::make_shared<FixedCard>(Bytes{0x3B, 0x00}, kProtocolT0));
  EXPECT_EQ(pcsc.connect(context, kReader, kShareExclusive, kProtocolT1, &h, &protocol),
            kProtoMismatch);
  EXPECT_EQ(
      pcsc.connect(context, kReader, kShareExclusive, kProtocolT0 | kProtocolT1, &h, &protocol),
      kSuccess);
  EXPECT_EQ(protocol, kProtocolT0);

  pcsc.removeCard(kReader);
  ASSERT_EQ(pcsc.disconnect(h, kLeaveCard), kSuccess);
  EXPECT_EQ(pcsc.connect(context, kReader, kShareExclusive, kProtocolT1, &h, &protocol),
            kNoSmartcard);
}

TEST_F(SimulatedPcscTest, ExclusiveConnectionExcludesEveryOther) {
  PcscHandle first = connect(kShareShared);
  connect(kShareShared);
  connect(kShareExclusive, kSharingViolation);
  ASSERT_EQ(pcsc.disconnect(first, kLeaveCard), kSuccess);
  PcscHandle second = pcsc.calls()[1].handle;
  ASSERT_EQ(pcsc.disconnect(second, kLeaveCard), kSuccess);
  connect(kShareExclusive);
  connect(kShareShared, kSharingViolation);
}

TEST_F(SimulatedPcscTest, PulledCardAnswersRemovedThenResetUntilReconnected) {
  PcscHandle h = connect();
  EXPECT_EQ(cardState(h), static_cast<std::uint32_t>(CardState::kSpecific));
  pcsc.removeCard(kReader);
  EXPECT_EQ(send(h), kRemovedCard);
  cardState(h, kRemovedCard);
  std::uint32_t protocol = 0;
  EXPECT_EQ(pcsc.reconnect(h, kShareShared, kProtocolT1, kLeaveCard, &protocol), kNoSmartcard);
  // The stale exclusive connection still holds the reader, as in pcsc-lite.
  connect(kShareExclusive, kSharingViolation);

  pcsc.insertCard(kReader, card);
  EXPECT_EQ(send(h), pcsc_code::kResetCard);
  connect(kShareExclusive, kSharingViolation);
  ASSERT_EQ(pcsc.reconnect(h, kShareShared, kProtocolT1, kLeaveCard, &protocol), kSuccess);
  EXPECT_EQ(protocol, kProtocolT1);
  EXPECT_EQ(send(h), kSuccess);
}

TEST_F(SimulatedPcscTest, StaleConnectionCanLetGoOfTheReader) {
  pcsc.setStaleHandlesHoldReader(false);
  PcscHandle h = connect();
  pcsc.removeCard(kReader);
  pcsc.insertCard(kReader, card);
  PcscHandle second = connect(kShareExclusive);
  std::uint32_t protocol = 0;
  EXPECT_EQ(pcsc.reconnect(h, kShareShared, kProtocolT1, kLeaveCard, &protocol), kSharingViolation);
  EXPECT_EQ(send(second), kSuccess);
}

TEST_F(SimulatedPcscTest, ReconnectResetsTheCardOnlyWhenAsked) {
  PcscHandle h = connect(kShareShared);
  PcscHandle other = connect(kShareShared);
  const int before = card->resets;
  std::uint32_t protocol = 0;
  ASSERT_EQ(pcsc.reconnect(h, kShareShared, kProtocolT1, kLeaveCard, &protocol), kSuccess);
  EXPECT_EQ(card->resets, before);
  EXPECT_EQ(send(other), kSuccess);

  ASSERT_EQ(pcsc.reconnect(h, kShareShared, kProtocolT1, kUnpowerCard, &protocol), kSuccess);
  EXPECT_EQ(card->resets, before + 1);
  EXPECT_EQ(send(other), pcsc_code::kResetCard);  // the other connection learns of the reset
  EXPECT_EQ(send(h), kSuccess);
  EXPECT_EQ(pcsc.reconnect(h, kShareShared, kProtocolT1, kEjectCard, &protocol), kInvalidValue);

  const auto calls = pcsc.calls();
  const auto& last = calls.back();
  EXPECT_EQ(last.call, PcscCall::kReconnect);
  EXPECT_EQ(last.initialization, kEjectCard);
  EXPECT_EQ(last.result, kInvalidValue);
  EXPECT_EQ(last.reader, kReader);
}

TEST_F(SimulatedPcscTest, DisconnectHonoursTheDisposition) {
  PcscHandle h = connect();
  EXPECT_EQ(pcsc.disconnect(h, 9), kInvalidValue);
  EXPECT_EQ(send(h), kSuccess);  // still connected
  const int before = card->resets;
  EXPECT_EQ(pcsc.disconnect(h, kEjectCard), kSuccess);
  EXPECT_EQ(card->resets, before);  // no mechanism: the card stays as it is
  EXPECT_EQ(pcsc.disconnect(h, kLeaveCard), kInvalidHandle);
  EXPECT_EQ(send(h), kInvalidHandle);

  h = connect();
  EXPECT_EQ(pcsc.disconnect(h, ruzazuv::kResetCard), kSuccess);
  EXPECT_EQ(card->resets, before + 1);

  const auto calls = pcsc.calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls.back().call, PcscCall::kDisconnect);
  EXPECT_EQ(calls.back().disposition, ruzazuv::kResetCard);
  EXPECT_EQ(calls.back().handle, h);
}

TEST_F(SimulatedPcscTest, StatusChecksEachCapacity) {
  const std::string longName(1100, 'n');
  pcsc.addReader(longName);
  pcsc.insertCard(longName, std::make_shared<FixedCard>(Bytes(33, 0x3B)));
  PcscHandle h = 0;
  std::uint32_t protocol = 0;
  ASSERT_EQ(pcsc.connect(context, longName.c_str(), kShareExclusive, kProtocolT1, &h, &protocol),
            kSuccess);

  std::uint32_t state = 0, nameLength = 200, atrLength = 32;
  std::uint8_t atr[32];
  EXPECT_EQ(pcsc.status(h, nullptr, &nameLength, &state, &protocol, atr, &atrLength),
            kInsufficientBuffer);
  EXPECT_EQ(atrLength, 33u);
  EXPECT_EQ(nameLength, longName.size() + 2);

  std::vector<char> name(10);
  nameLength = 10;
  std::uint8_t atr33[33];
  atrLength = 33;
  EXPECT_EQ(pcsc.status(h, name.data(), &nameLength, &state, &protocol, atr33, &atrLength),
            kInsufficientBuffer);
  name.resize(nameLength);
  EXPECT_EQ(pcsc.status(h, name.data(), &nameLength, &state, &protocol, atr33, &atrLength),
            kSuccess);
  EXPECT_EQ(std::string(name.data()), longName);
  EXPECT_EQ(state, static_cast<std::uint32_t>(CardState::kSpecific));
  EXPECT_EQ(protocol, kProtocolT1);
}

TEST_F(SimulatedPcscTest, AttributesComeFromTheReader) {
  PcscHandle h = connect();
  std::uint8_t buffer[2048];
  std::uint32_t length = sizeof buffer;
  EXPECT_EQ(pcsc.getAttrib(h, 0x00010100, buffer, &length), kUnsupportedFeature);

  pcsc.setAttribute(kReader, 0x00010100, {1, 2, 3, 4});
  length = sizeof buffer;
  ASSERT_EQ(pcsc.getAttrib(h, 0x00010100, buffer, &length), kSuccess);
  EXPECT_EQ(Bytes(buffer, buffer + length), (Bytes{1, 2, 3, 4}));

  length = 3;
  EXPECT_EQ(pcsc.getAttrib(h, 0x00010100, buffer, &length), kInsufficientBuffer);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(pcsc.getAttrib(h + 100, 0x00010100, buffer, &length), kInvalidHandle);
}

TEST_F(SimulatedPcscTest, TransmitChecksProtocolAndCapacity) {
  pcsc.insertCard(kReader,
                  std::make_shared<FixedCard>(Bytes{0x3B, 0x00}, kProtocolT1, Bytes(300, 0x61)));
  PcscHandle h = connect();
  EXPECT_EQ(send(h, kProtocolT0), kProtoMismatch);
  std::uint8_t recv[272];
  std::uint32_t length = sizeof recv;
  EXPECT_EQ(pcsc.transmit(h, kProtocolT1, kSelect.data(), 7, recv, &length), kInsufficientBuffer);
  EXPECT_EQ(length, 300u);
  EXPECT_EQ(pcsc.transmit(h, kProtocolT1, kSelect.data(), 0, recv, &length), kInvalidParameter);

  // Only the command that reached the card is in the reader's transcript.
  EXPECT_EQ(pcsc.commands(kReader), std::vector<Bytes>{kSelect});
  EXPECT_EQ(pcsc.callCount(PcscCall::kTransmit), 3);
}

TEST_F(SimulatedPcscTest, InjectedFailuresHitTheChosenCalls) {
  PcscHandle h = connect();
  pcsc.failCall("transmit", kNotReady, 2, 1);
  EXPECT_EQ(send(h), kSuccess);
  EXPECT_EQ(send(h), kNotReady);
  EXPECT_EQ(send(h), kNotReady);
  EXPECT_EQ(send(h), kSuccess);
  EXPECT_EQ(pcsc.commands(kReader).size(), 2u);

  pcsc.failCall("getStatusChange", kServiceStopped);
  query(kReader, kServiceStopped);
  query(kReader);
  EXPECT_THROW(pcsc.failCall("SCardTransmit", kNotReady), std::invalid_argument);
}

TEST_F(SimulatedPcscTest, StoppedServiceAnswersNoServiceForEver) {
  PcscHandle h = connect();
  pcsc.setServiceRunning(false);
  EXPECT_EQ(send(h), kNoService);
  query(kReader, kNoService);
  PcscContext fresh = 0;
  EXPECT_EQ(pcsc.establishContext(0, &fresh), kNoService);
  pcsc.setServiceRunning(true);
  ASSERT_EQ(pcsc.establishContext(0, &fresh), kSuccess);
  EXPECT_EQ(send(h), kNoService);
  context = fresh;
  connect();  // the old exclusive connection went with the service
}

TEST_F(SimulatedPcscTest, ReleasingTheContextEndsItsConnections) {
  PcscHandle h = connect();
  const int before = card->resets;
  ASSERT_EQ(pcsc.releaseContext(context), kSuccess);
  EXPECT_EQ(card->resets, before + 1);
  EXPECT_EQ(send(h), kInvalidHandle);
}

TEST_F(SimulatedPcscTest, HookMayPullTheCardAfterACommand) {
  PcscHandle h = connect();
  int seen = 0;
  pcsc.setTransmitHook([&](const std::string& reader, std::span<const std::uint8_t>) {
    if (++seen == 2) pcsc.removeCard(reader);
  });
  EXPECT_EQ(send(h), kSuccess);
  EXPECT_EQ(send(h), kSuccess);
  EXPECT_EQ(send(h), kRemovedCard);
}

TEST_F(SimulatedPcscTest, PollingFromAnotherThreadSeesOneStateAtATime) {
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread poller([&] {
    while (!stop) {
      ReaderState s;
      s.reader = kReader;
      if (pcsc.getStatusChange(context, 100, &s, 1) != kSuccess) ++bad;
      const bool present = s.eventState & kStatePresent;
      const bool empty = s.eventState & kStateEmpty;
      if (present == empty || (present && s.atrLength != 4) || (empty && s.atrLength != 0)) ++bad;
    }
  });
  for (int i = 0; i < 300; ++i) {
    pcsc.removeCard(kReader);
    pcsc.insertCard(kReader, card);
  }
  stop = true;
  poller.join();
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(query(kReader).eventState >> 16, 601u);
}

}  // namespace
}  // namespace ruzazuv
