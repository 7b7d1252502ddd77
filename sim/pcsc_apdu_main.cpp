// ruzazuv-pcsc-apdu: sends command APDUs to a card through pcsc-lite and prints the answers, with
// the mean time of one exchange; a probe for the real-stack harness and its tests.
#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_hex.h"

namespace {

constexpr const char* kHelp =
    R"(usage: ruzazuv-pcsc-apdu --reader NAME [--shared] [--t0] [--repeat N] APDU_HEX...

Connects to the card in NAME (exclusively with T=1 unless told otherwise), sends each APDU in
turn, prints "> COMMAND" and "< ANSWER" for each, and on standard error the number of exchanges
and the mean time of one. With --repeat the whole list is sent N times (printed once).
Exit code 0 when every exchange succeeded at PC/SC level; otherwise 1, with the failing result.
)";

}  // namespace

int main(int argc, char** argv) {
  std::string reader;
  DWORD share = SCARD_SHARE_EXCLUSIVE;
  DWORD protocols = SCARD_PROTOCOL_T1;
  long repeat = 1;
  std::vector<std::vector<std::uint8_t>> commands;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help") {
      std::cout << kHelp;
      return 0;
    } else if (arg == "--reader" && i + 1 < argc) {
      reader = argv[++i];
    } else if (arg == "--shared") {
      share = SCARD_SHARE_SHARED;
    } else if (arg == "--t0") {
      protocols = SCARD_PROTOCOL_T0;
    } else if (arg == "--repeat" && i + 1 < argc) {
      const std::string_view v = argv[++i];
      if (std::from_chars(v.data(), v.data() + v.size(), repeat).ec != std::errc{} || repeat < 1) {
        return 2;
      }
    } else if (auto bytes = ruzazuv::sim::parseHex(arg); bytes && !bytes->empty()) {
      commands.push_back(*bytes);
    } else {
      std::cerr << "ruzazuv-pcsc-apdu: bad argument " << arg << " (see --help)\n";
      return 2;
    }
  }
  if (reader.empty() || commands.empty()) {
    std::cerr << kHelp;
    return 2;
  }

  SCARDCONTEXT context = 0;
  LONG rc = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context);
  if (rc != SCARD_S_SUCCESS) {
    std::fprintf(stderr, "SCardEstablishContext: 0x%08lX\n", static_cast<unsigned long>(rc));
    return 1;
  }
  SCARDHANDLE card = 0;
  DWORD active = 0;
  rc = SCardConnect(context, reader.c_str(), share, protocols, &card, &active);
  if (rc != SCARD_S_SUCCESS) {
    std::fprintf(stderr, "SCardConnect: 0x%08lX\n", static_cast<unsigned long>(rc));
    SCardReleaseContext(context);
    return 1;
  }
  const SCARD_IO_REQUEST pci = {active, sizeof(SCARD_IO_REQUEST)};
  long exchanges = 0;
  std::chrono::nanoseconds total{0};
  int status = 0;
  for (long round = 0; round < repeat && status == 0; ++round) {
    for (const auto& command : commands) {
      std::uint8_t answer[65538];
      DWORD length = sizeof answer;
      const auto start = std::chrono::steady_clock::now();
      rc = SCardTransmit(card, &pci, command.data(), static_cast<DWORD>(command.size()), nullptr,
                         answer, &length);
      total += std::chrono::steady_clock::now() - start;
      ++exchanges;
      if (rc != SCARD_S_SUCCESS) {
        std::fprintf(stderr, "SCardTransmit: 0x%08lX\n", static_cast<unsigned long>(rc));
        status = 1;
        break;
      }
      if (round == 0) {
        std::printf("> %s\n< %s\n", ruzazuv::sim::toHex(command).c_str(),
                    ruzazuv::sim::toHex({answer, length}).c_str());
      }
    }
  }
  std::fprintf(stderr, "exchanges=%ld mean_us=%.1f\n", exchanges,
               exchanges
                   ? static_cast<double>(total.count()) / 1000.0 / static_cast<double>(exchanges)
                   : 0.0);
  SCardDisconnect(card, SCARD_LEAVE_CARD);
  SCardReleaseContext(context);
  return status;
}
