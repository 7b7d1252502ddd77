// WinscardPcsc against the system's winscard.dll: each call hands winscard's result back
// unchanged, as the signed 32-bit value a page sees. Wine 8's winscard fails every context call
// and implements only establish, release, list and status; its other entry points abort the
// process when called, so those are checked against a stand-in (winscard_pcsc_fake_test.cpp).
#include <gtest/gtest.h>

// clang-format off
#include <windows.h>
#include <winscard.h>
// clang-format on

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "control/card_control.h"
#include "platform/system_timer.h"
#include "platform/winscard_pcsc.h"

namespace ruzazuv {
namespace {

// An established context when the service gives one, else the value winscard left behind.
struct Service {
  Service() {
    SCARDCONTEXT native = 0;
    established = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &native);
    context = native;
  }
  ~Service() {
    if (established == SCARD_S_SUCCESS) SCardReleaseContext(static_cast<SCARDCONTEXT>(context));
  }
  LONG established = 0;
  PcscContext context = 0;
};

struct PassThrough {
  const char* call;
  std::function<PcscResult(WinscardPcsc&, PcscContext)> binding;
  std::function<LONG(SCARDCONTEXT)> direct;
};

constexpr const char* kReader = "RuzaZUV Test Reader 0";

const std::vector<PassThrough>& passThroughs() {
  static const std::vector<PassThrough> cases = {
      {"SCardListReadersA",
       [](WinscardPcsc& p, PcscContext ctx) {
         char buffer[256] = {};
         std::uint32_t length = sizeof(buffer);
         return p.listReaders(ctx, buffer, &length);
       },
       [](SCARDCONTEXT ctx) {
         char buffer[256] = {};
         DWORD length = sizeof(buffer);
         return SCardListReadersA(ctx, nullptr, buffer, &length);
       }},
      {"SCardStatusA",
       [](WinscardPcsc& p, PcscContext) {
         char name[128] = {};
         std::uint32_t nameLength = sizeof(name);
         std::uint32_t state = 0;
         std::uint32_t protocol = 0;
         std::uint8_t atr[36] = {};
         std::uint32_t atrLength = sizeof(atr);
         return p.status(1, name, &nameLength, &state, &protocol, atr, &atrLength);
       },
       [](SCARDCONTEXT) {
         char name[128] = {};
         DWORD nameLength = sizeof(name);
         DWORD state = 0;
         DWORD protocol = 0;
         BYTE atr[36] = {};
         DWORD atrLength = sizeof(atr);
         return SCardStatusA(1, name, &nameLength, &state, &protocol, atr, &atrLength);
       }},
  };
  return cases;
}

TEST(WinscardPcsc, EstablishContextAnswersWhatWinscardAnswers) {
  Service service;
  WinscardPcsc pcsc;
  PcscContext context = 0;
  const PcscResult rv = pcsc.establishContext(SCARD_SCOPE_USER, &context);
  EXPECT_EQ(rv, static_cast<PcscResult>(service.established));
  if (rv == 0) {
    EXPECT_NE(context, 0u);
    EXPECT_EQ(pcsc.releaseContext(context), 0);
  } else {
    // A failure reads as the negative number a page sees (0x80100001 is -2146435071).
    EXPECT_LT(rv, 0);
    EXPECT_EQ(static_cast<std::uint32_t>(rv), static_cast<std::uint32_t>(service.established));
  }
}

TEST(WinscardPcsc, EveryCallPassesWinscardsResultThroughUnchanged) {
  Service service;
  WinscardPcsc pcsc;
  for (const auto& c : passThroughs()) {
    SCOPED_TRACE(c.call);
    const LONG direct = c.direct(static_cast<SCARDCONTEXT>(service.context));
    EXPECT_EQ(c.binding(pcsc, service.context), static_cast<PcscResult>(direct));
  }
}

TEST(WinscardPcsc, RecordsWithoutAReaderNameAreRefusedBeforeWinscard) {
  WinscardPcsc pcsc;
  ReaderState states[2];
  states[0].reader = kReader;  // the second record names no reader
  EXPECT_EQ(pcsc.getStatusChange(0, 0, states, 2), pcsc_code::kInvalidValue);
  PcscHandle card = 7;
  std::uint32_t protocol = 0;
  EXPECT_EQ(pcsc.connect(0, nullptr, kShareShared, kProtocolT0, &card, &protocol),
            pcsc_code::kUnknownReader);
  EXPECT_EQ(card, 7u);  // untouched
}

// The control on winscard: its methods report winscard's own results, never a substitute.
TEST(WinscardPcsc, TheControlReportsWinscardsResultsToThePage) {
  Service service;
  WinscardPcsc pcsc;
  SystemClock clock;
  SystemTimer timer;
  TextCodec codec;
  ControlServices services{pcsc, clock, timer, codec, nullptr};
  ProcessState process;
  CardControl control(services, process);

  EXPECT_EQ(control.call(Dispid::ConnectReader), static_cast<PcscResult>(service.established));
  if (service.established != SCARD_S_SUCCESS) {
    // Listing on the context the failed call left gives what winscard gives for it.
    char buffer[1024] = {};
    DWORD length = sizeof(buffer);
    const LONG listed = SCardListReadersA(0, nullptr, buffer, &length);
    EXPECT_EQ(control.call(Dispid::ListReaders), static_cast<PcscResult>(listed));
  }
}

}  // namespace
}  // namespace ruzazuv
