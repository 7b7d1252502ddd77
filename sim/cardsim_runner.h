// The card program's event loop: keeps the virtual card connected to vpcd while it is inserted,
// answers vpcd's messages, serves the line-based control channel and runs the script.
//
// Control channel (127.0.0.1, one command per line, one answer line "ok ..." or "error ..."):
//   remove                  pull the card out (close the vpcd socket)
//   insert                  put the card in (connect to vpcd)
//   swap PROFILE [HOLD_MS]  remove, load PROFILE, insert after HOLD_MS (default: the swap hold);
//                           answered once the new card is in
//   load PROFILE            the next insert brings the card of PROFILE
//   script SCRIPT           run SCRIPT (see cardsim_script.h), its clock starting now
//   count [HEX]             number of command APDUs received (beginning with HEX)
//   delay MS                answer every later command APDU MS ms after it arrived (0: at once)
//   status                  "ok inserted=0|1 connected=0|1 card=NAME commands=N"
//   quit                    answer and exit
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace ruzazuv::sim {

struct CardSimOptions {
  std::string vpcdHost = "127.0.0.1";
  std::uint16_t vpcdPort = 35963;
  int controlPort = -1;  // -1: no control channel; 0: any free port (reported on stderr)
  std::filesystem::path profile;
  std::string script;
  bool startRemoved = false;
  std::chrono::milliseconds swapHold{1000};
  std::chrono::milliseconds reconnectInterval{200};
  // A slow card: every command APDU is answered this long after it arrived (the control
  // channel and the script keep running meanwhile; a removal drops the answer). vpcd's control
  // messages (power, reset, the ATR request) are answered at once, so pcscd still sees the card.
  std::chrono::milliseconds answerDelay{0};
  bool verbose = false;
};

class CardSimRunner {
 public:
  explicit CardSimRunner(CardSimOptions options);
  ~CardSimRunner();
  // Runs until `quit`, a quit action or SIGTERM/SIGINT; returns the process exit code.
  int run();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Finds a profile: the path as given, else the file of that name among the built-in profiles.
std::filesystem::path resolveProfile(const std::string& name);

}  // namespace ruzazuv::sim
