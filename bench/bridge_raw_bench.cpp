// The in-process side of bench/bridge_bench.sh: the same commands the bridge benchmark sends
// through WebSocket, without the bridge, on the same stack.
//   BM_BridgeRawGet            a property get on the control (the bridge's get minus transport)
//   BM_BridgeRawListAccounts   FiscListAccounts called on the control in process
//   BM_BridgeRawListApdus      the APDUs FiscListAccounts sends, replayed with raw transmits
// The stack comes from RUZAZUV_BENCH_PCSC: "system" (pcsc-lite, reader RUZAZUV_BENCH_READER or
// the first listed) or "simulated:PROFILE.json" (default: the default profile in process).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "control/card_control.h"
#include "platform/clock.h"
#include "platform/simulated_pcsc.h"
#include "platform/system_pcsc.h"
#include "platform/system_timer.h"
#include "platform/text_codec.h"
#include "sim/card_profile.h"
#include "sim/fisc_card.h"

namespace {

using namespace ruzazuv;

constexpr const char* kSimulatedReader = "RuzaZUV Simulated Reader 0";

std::unique_ptr<SimulatedPcsc> simulatedStack(const std::string& profile) {
  auto pcsc = std::make_unique<SimulatedPcsc>();
  pcsc->addReader(kSimulatedReader);
  pcsc->insertCard(kSimulatedReader,
                   std::make_shared<sim::FiscCard>(sim::loadCardProfile(profile)));
  return pcsc;
}

std::string defaultProfile() {
  return std::string(RUZAZUV_PROFILE_DIR) + "/default.json";
}

// A control connected to the card of the chosen stack, as a page has it before FiscListAccounts.
struct Stack {
  std::unique_ptr<Pcsc> pcsc;
  SystemClock clock;
  SystemTimer timer;
  TextCodec codec;
  ProcessState process;
  std::unique_ptr<CardControl> control;
  std::string error;

  Stack() {
    const char* choice = std::getenv("RUZAZUV_BENCH_PCSC");
    const std::string pcscChoice = choice != nullptr ? choice : "simulated:" + defaultProfile();
    if (pcscChoice == "system")
      pcsc = std::make_unique<SystemPcsc>();
    else
      pcsc = simulatedStack(pcscChoice.substr(std::string("simulated:").size()));
    control = std::make_unique<CardControl>(ControlServices{*pcsc, clock, timer, codec, nullptr},
                                            process);
    if (control->ConnectReader() != 0 || control->ListReaders() != 0) {
      error = "no PC/SC context or readers";
      return;
    }
    const char* reader = std::getenv("RUZAZUV_BENCH_READER");
    control->putText(Dispid::baReaderName,
                     reader != nullptr ? utf8ToUtf16(reader) : control->getText(Dispid::caReader1));
    if (control->ConnectCard() != 0) error = "ConnectCard failed";
  }
  ~Stack() {
    control->DisConnectCard();
    control->DisConnectReader();
  }
};

// The command APDUs of one FiscListAccounts, recorded on the in-process card.
std::vector<std::vector<std::uint8_t>> listAccountsCommands() {
  auto pcsc = simulatedStack(defaultProfile());
  SimulatedPcsc& sim = *pcsc;
  SystemClock clock;
  SystemTimer timer;
  TextCodec codec;
  ProcessState process;
  CardControl control(ControlServices{sim, clock, timer, codec, nullptr}, process);
  control.ConnectReader();
  control.ListReaders();
  control.putText(Dispid::baReaderName, control.getText(Dispid::caReader1));
  control.ConnectCard();
  sim.clearTranscript();
  control.FiscListAccounts();
  return sim.commands(kSimulatedReader);
}

void BM_BridgeRawGet(benchmark::State& state) {
  Stack stack;
  PropertyValue value;
  for (auto _ : state) {
    benchmark::DoNotOptimize(stack.control->getProperty(static_cast<int>(Dispid::iNoR), &value));
  }
}
BENCHMARK(BM_BridgeRawGet);

void BM_BridgeRawListAccounts(benchmark::State& state) {
  Stack stack;
  if (!stack.error.empty()) return state.SkipWithError(stack.error.c_str());
  for (auto _ : state) {
    if (stack.control->FiscListAccounts() != 0)
      return state.SkipWithError("FiscListAccounts failed");
  }
}
BENCHMARK(BM_BridgeRawListAccounts)->Unit(benchmark::kMicrosecond);

void BM_BridgeRawListApdus(benchmark::State& state) {
  Stack stack;
  if (!stack.error.empty()) return state.SkipWithError(stack.error.c_str());
  const auto commands = listAccountsCommands();
  const auto protocol = static_cast<std::uint32_t>(stack.control->getInt(Dispid::ulProtocol));
  std::vector<std::uint8_t> response(258);
  for (auto _ : state) {
    for (const auto& command : commands) {
      auto length = static_cast<std::uint32_t>(response.size());
      if (stack.pcsc->transmit(stack.process.card, protocol, command.data(),
                               static_cast<std::uint32_t>(command.size()), response.data(),
                               &length) != 0)
        return state.SkipWithError("transmit failed");
    }
  }
  state.counters["apdus"] = static_cast<double>(commands.size());
}
BENCHMARK(BM_BridgeRawListApdus)->Unit(benchmark::kMicrosecond);

}  // namespace
