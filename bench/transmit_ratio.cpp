// Per-APDU cost of CardControl::TransmitApdu against a raw SCardTransmit loop of the same
// command on the same connection, measured side by side in one process. Rounds alternate
// between the two so that drift of the machine or the service affects both alike.
//
// usage: ruzazuv-transmit-ratio READER [ROUNDS] [EXCHANGES_PER_ROUND]
#include <PCSC/winscard.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "control/card_control.h"
#include "platform/clock.h"
#include "platform/system_pcsc.h"
#include "platform/system_timer.h"

using namespace ruzazuv;
using Stopwatch = std::chrono::steady_clock;

namespace {

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s READER [ROUNDS] [EXCHANGES_PER_ROUND]\n", argv[0]);
    return 2;
  }
  const std::string reader = argv[1];
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
  const int perRound = argc > 3 ? std::atoi(argv[3]) : 200;

  SystemPcsc pcsc;
  SystemClock clock;
  SystemTimer timer;
  TextCodec codec;
  ProcessState process;
  CardControl control(ControlServices{pcsc, clock, timer, codec, nullptr}, process);
  if (control.call(Dispid::ConnectReader) != 0) return 1;
  control.putText(Dispid::baReaderName, utf8ToUtf16(reader));
  if (int ret = control.call(Dispid::ConnectCard); ret != 0) {
    std::fprintf(stderr, "ConnectCard: %d\n", ret);
    return 1;
  }
  // READ RECORD 3 of file 1001: a 20-byte answer, as the account listing reads it.
  control.TransmitApdu("00", "A4", "02", "00", "02", "1001");
  const unsigned char command[] = {0x00, 0xB2, 0x03, 0x04, 0x00};
  SCARD_IO_REQUEST pci{SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};

  std::vector<double> raw, wrapped;
  for (int round = 0; round < rounds; ++round) {
    auto start = Stopwatch::now();
    for (int i = 0; i < perRound; ++i) {
      unsigned char response[272];
      DWORD length = sizeof response;
      if (SCardTransmit(static_cast<SCARDHANDLE>(process.card), &pci, command, sizeof command,
                        nullptr, response, &length) != SCARD_S_SUCCESS)
        return 1;
    }
    raw.push_back(std::chrono::duration<double, std::micro>(Stopwatch::now() - start).count() /
                  perRound);
    start = Stopwatch::now();
    for (int i = 0; i < perRound; ++i)
      if (control.TransmitApdu("00", "B2", "03", "04", std::nullopt, {}, "00") != 0) return 1;
    wrapped.push_back(std::chrono::duration<double, std::micro>(Stopwatch::now() - start).count() /
                      perRound);
  }
  const double r = median(raw), w = median(wrapped);
  std::printf("raw SCardTransmit      %9.1f us per exchange (median of %d rounds x %d)\n", r,
              rounds, perRound);
  std::printf("CardControl::Transmit  %9.1f us per exchange\n", w);
  std::printf("ratio control/raw      %9.4f (overhead %+.2f%%)\n", w / r, (w / r - 1) * 100);
  control.call(Dispid::DisConnectCard);
  return 0;
}
