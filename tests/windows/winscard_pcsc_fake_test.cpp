// WinscardPcsc against a stand-in winscard.dll (fake_winscard.cpp, loaded from this program's
// folder in place of the system's): every call reaches the right winscard function with the
// caller's arguments, its result comes back unchanged whatever it is, and the out-values land
// where the caller asked, handles at their full width.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fake_winscard.h"
#include "platform/winscard_pcsc.h"

namespace ruzazuv {
namespace {

class FakeWinscard : public ::testing::Test {
 protected:
  void SetUp() override {
    HMODULE module = GetModuleHandleW(L"winscard.dll");
    ASSERT_NE(module, nullptr);
    setResult_ = reinterpret_cast<FakeWinscardSetResultFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "FakeWinscardSetResult")));
    lastCall_ = reinterpret_cast<FakeWinscardLastCallFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "FakeWinscardLastCall")));
    ASSERT_NE(setResult_, nullptr) << "the system's winscard.dll was loaded, not the stand-in";
    ASSERT_NE(lastCall_, nullptr);
    setResult_(0);
  }

  FakeWinscardCall last() {
    FakeWinscardCall call{};
    lastCall_(&call);
    return call;
  }

  WinscardPcsc pcsc;
  FakeWinscardSetResultFn setResult_ = nullptr;
  FakeWinscardLastCallFn lastCall_ = nullptr;
};

struct Call {
  const char* function;
  std::function<PcscResult(WinscardPcsc&)> invoke;
};

const std::vector<Call>& everyCall() {
  static const std::vector<Call> calls = {
      {"SCardEstablishContext",
       [](WinscardPcsc& p) {
         PcscContext c = 0;
         return p.establishContext(2, &c);
       }},
      {"SCardReleaseContext", [](WinscardPcsc& p) { return p.releaseContext(5); }},
      {"SCardListReadersA",
       [](WinscardPcsc& p) {
         char buffer[64];
         std::uint32_t length = sizeof(buffer);
         return p.listReaders(5, buffer, &length);
       }},
      {"SCardGetStatusChangeA",
       [](WinscardPcsc& p) {
         ReaderState state;
         state.reader = "R";
         return p.getStatusChange(5, 100, &state, 1);
       }},
      {"SCardConnectA",
       [](WinscardPcsc& p) {
         PcscHandle card = 0;
         std::uint32_t protocol = 0;
         return p.connect(5, "R", kShareShared, kProtocolT0 | kProtocolT1, &card, &protocol);
       }},
      {"SCardReconnect",
       [](WinscardPcsc& p) {
         std::uint32_t protocol = 0;
         return p.reconnect(9, kShareShared, kProtocolT1, kResetCard, &protocol);
       }},
      {"SCardDisconnect", [](WinscardPcsc& p) { return p.disconnect(9, kLeaveCard); }},
      {"SCardStatusA",
       [](WinscardPcsc& p) {
         char name[32];
         std::uint32_t nameLength = sizeof(name);
         std::uint32_t state = 0;
         std::uint32_t protocol = 0;
         std::uint8_t atr[36];
         std::uint32_t atrLength = sizeof(atr);
         return p.status(9, name, &nameLength, &state, &protocol, atr, &atrLength);
       }},
      {"SCardGetAttrib",
       [](WinscardPcsc& p) {
         std::uint8_t buffer[16];
         std::uint32_t length = sizeof(buffer);
         return p.getAttrib(9, 0x00010100, buffer, &length);
       }},
      {"SCardTransmit",
       [](WinscardPcsc& p) {
         const std::uint8_t command[] = {0x00, 0xB2, 0x01, 0x04, 0x00};
         std::uint8_t answer[258];
         std::uint32_t length = sizeof(answer);
         return p.transmit(9, kProtocolT1, command, sizeof(command), answer, &length);
       }},
  };
  return calls;
}

TEST_F(FakeWinscard, EveryCallReachesItsFunctionAndReturnsItsResultUnchanged) {
  // Success, then failures a page must see as they are, pcsc-lite-only codes included.
  for (const std::uint32_t result : {0u, 0x8010001Fu, 0x80100069u, 0x8010002Eu, 0x8010001Du}) {
    setResult_(static_cast<LONG>(result));
    for (const auto& call : everyCall()) {
      SCOPED_TRACE(std::string(call.function) + " answering " + std::to_string(result));
      EXPECT_EQ(call.invoke(pcsc), static_cast<PcscResult>(result));
      EXPECT_STREQ(last().function, call.function);
    }
  }
}

TEST_F(FakeWinscard, ContextsAndHandlesKeepTheirFullWidthBothWays) {
  PcscContext context = 0;
  ASSERT_EQ(pcsc.establishContext(0, &context), 0);
  EXPECT_EQ(context, static_cast<PcscContext>(kFakeContext));
  EXPECT_EQ(pcsc.releaseContext(context), 0);
  EXPECT_EQ(last().handle, kFakeContext);

  PcscHandle card = 0;
  std::uint32_t protocol = 0;
  ASSERT_EQ(pcsc.connect(context, "Fake Reader 0", kShareExclusive, kProtocolT1, &card, &protocol),
            0);
  FakeWinscardCall call = last();
  EXPECT_EQ(call.handle, kFakeContext);
  EXPECT_STREQ(call.reader, "Fake Reader 0");
  EXPECT_EQ(call.arg[0], kShareExclusive);
  EXPECT_EQ(call.arg[1], kProtocolT1);
  EXPECT_EQ(card, static_cast<PcscHandle>(kFakeCard));
  EXPECT_EQ(protocol, kProtocolT1);

  EXPECT_EQ(pcsc.reconnect(card, kShareShared, kProtocolT0, kUnpowerCard, &protocol), 0);
  call = last();
  EXPECT_EQ(call.handle, kFakeCard);
  EXPECT_EQ(call.arg[0], kShareShared);
  EXPECT_EQ(call.arg[1], kProtocolT0);
  EXPECT_EQ(call.arg[2], kUnpowerCard);
  EXPECT_EQ(protocol, kProtocolT0);

  EXPECT_EQ(pcsc.disconnect(card, kEjectCard), 0);
  EXPECT_EQ(last().handle, kFakeCard);
  EXPECT_EQ(last().arg[0], kEjectCard);
}

TEST_F(FakeWinscard, ReaderListsAndStatesComeBackAsWinscardGaveThem) {
  char list[64] = {};
  std::uint32_t length = sizeof(list);
  ASSERT_EQ(pcsc.listReaders(3, list, &length), 0);
  EXPECT_EQ(last().arg[0], 0u);  // all groups
  EXPECT_EQ(last().arg[1], sizeof(list));
  EXPECT_EQ(length, 29u);
  EXPECT_EQ(std::string(list, length), std::string("Fake Reader 0\0Fake Reader 1\0", 29));

  ReaderState state;
  state.reader = "Fake Reader 1";
  state.currentState = kStatePresent;
  ASSERT_EQ(pcsc.getStatusChange(3, 100, &state, 1), 0);
  const FakeWinscardCall call = last();
  EXPECT_EQ(call.arg[0], 100u);
  EXPECT_EQ(call.arg[1], 1u);
  EXPECT_EQ(call.arg[2], kStatePresent);
  EXPECT_STREQ(call.reader, "Fake Reader 1");
  EXPECT_EQ(state.eventState, kStateChanged | kStatePresent | kStateInUse);
  ASSERT_EQ(state.atrLength, 3u);
  EXPECT_EQ(state.atr[0], 0x3B);
  EXPECT_EQ(state.atr[2], 0x81);
}

TEST_F(FakeWinscard, CardStatusIsWindowsOwnEnumerationUntranslated) {
  char name[32] = {};
  std::uint32_t nameLength = sizeof(name);
  std::uint32_t state = 99;
  std::uint32_t protocol = 0;
  std::uint8_t atr[36] = {};
  std::uint32_t atrLength = sizeof(atr);
  ASSERT_EQ(pcsc.status(4, name, &nameLength, &state, &protocol, atr, &atrLength), 0);
  EXPECT_EQ(last().arg[0], sizeof(name));
  EXPECT_EQ(last().arg[1], sizeof(atr));
  EXPECT_EQ(state, static_cast<std::uint32_t>(CardState::kSpecific));
  EXPECT_EQ(protocol, kProtocolT1);
  EXPECT_EQ(nameLength, 15u);
  EXPECT_STREQ(name, "Fake Reader 0");
  EXPECT_EQ(atrLength, 2u);
  EXPECT_EQ(atr[1], 0x02);

  // A failed status leaves the caller's state and protocol as they were.
  setResult_(static_cast<LONG>(0x80100069u));
  state = 99;
  protocol = 7;
  atrLength = sizeof(atr);
  EXPECT_EQ(pcsc.status(4, name, &nameLength, &state, &protocol, atr, &atrLength),
            pcsc_code::kRemovedCard);
  EXPECT_EQ(state, 99u);
  EXPECT_EQ(protocol, 7u);
}

TEST_F(FakeWinscard, AttributesAndExchangesUseTheCallersBuffersAndProtocol) {
  std::uint8_t attribute[16] = {};
  std::uint32_t attributeLength = sizeof(attribute);
  ASSERT_EQ(pcsc.getAttrib(4, 0x00010100, attribute, &attributeLength), 0);
  EXPECT_EQ(last().arg[0], 0x00010100u);
  EXPECT_EQ(last().arg[1], sizeof(attribute));
  EXPECT_EQ(attributeLength, 4u);
  EXPECT_EQ(std::memcmp(attribute, "RUZA", 4), 0);

  for (const std::uint32_t protocol : {kProtocolT0, kProtocolT1}) {
    SCOPED_TRACE(protocol);
    const std::uint8_t command[] = {0x00, 0xA4, 0x04, 0x00};
    std::uint8_t answer[258] = {};
    std::uint32_t length = sizeof(answer);
    ASSERT_EQ(pcsc.transmit(4, protocol, command, sizeof(command), answer, &length), 0);
    const FakeWinscardCall call = last();
    EXPECT_EQ(call.arg[0], protocol);
    EXPECT_EQ(call.arg[1], sizeof(SCARD_IO_REQUEST));
    EXPECT_EQ(call.arg[2], sizeof(command));
    EXPECT_EQ(call.arg[3], sizeof(answer));
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(answer[0], 0x90);
  }
}

}  // namespace
}  // namespace ruzazuv
