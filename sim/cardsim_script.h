// Timed and event-triggered card actions for the card program, so that a test can say "pull the
// card out 1 s after the second VERIFY and put it back 2 s later".
//
//   SCRIPT  := STEP (';' STEP)*
//   STEP    := TRIGGER ',' ACTION
//   TRIGGER := 'after:' MS                 MS ms after the script was loaded
//            | 'then:' MS                  MS ms after the step before this one fired
//            | 'on-apdu:' HEX ['#' K] ['+' MS]
//                                          MS ms (default 0) after the K-th (default 1) command
//                                          APDU beginning with the bytes HEX, counted from when
//                                          the script was loaded; the APDU is answered first
//            | 'at-apdu:' HEX ['#' K]      when that command arrives, before it is answered (a
//                                          card removed then never answers it)
//   ACTION  := 'remove' | 'insert' | 'load:' PROFILE | 'swap:' PROFILE | 'delay:' MS | 'quit'
//
// `load` makes the next insertion bring the card of PROFILE; `swap` removes the card, loads
// PROFILE and inserts it after the swap hold time; `delay` makes the card answer every later
// command APDU MS ms after it arrived (0: at once). Example:
//   on-apdu:0020#2+1000,remove;then:2000,insert
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ruzazuv::sim {

struct ScriptStep {
  enum class Trigger { kAfter, kThen, kOnApdu, kAtApdu };
  enum class Action { kRemove, kInsert, kLoad, kSwap, kDelay, kQuit };
  Trigger trigger = Trigger::kAfter;
  std::chrono::milliseconds delay{0};
  std::vector<std::uint8_t> prefix;  // kOnApdu, kAtApdu
  int occurrence = 1;                // kOnApdu, kAtApdu
  Action action = Action::kRemove;
  std::string argument;                      // kLoad, kSwap: the profile
  std::chrono::milliseconds answerDelay{0};  // kDelay
};

// Parses a script; throws std::invalid_argument naming the step at fault.
std::vector<ScriptStep> parseScript(std::string_view text);

}  // namespace ruzazuv::sim
