// ruzazuv-cardsim: a FISC financial card behind vpcd, for tests against the real PC/SC stack.
#include <charconv>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "cardsim_runner.h"

namespace {

constexpr const char* kHelp = R"(usage: ruzazuv-cardsim [options]

Connects as a virtual card to the vpcd reader driver and answers as a FISC financial card.
The card is in the reader while the connection to vpcd stands; removing it closes the
connection, inserting it connects again. If vpcd goes away the card reconnects.

options:
  --profile FILE        card profile (JSON); a bare file name is also looked up among the
                        built-in profiles (default: default.json)
  --host ADDRESS        vpcd's address (default 127.0.0.1)
  --port N              vpcd's port: 35963 for the first reader, 35964 for the second
  --control-port N      serve the control channel on 127.0.0.1:N (0: any free port)
  --script SCRIPT       run timed or triggered actions (below)
  --start-removed       start with the card out of the reader
  --swap-hold-ms MS     how long a swap keeps the reader empty (default 1000; pcscd polls
                        about every 400 ms, so a shorter hold may go unnoticed)
  --answer-delay-ms MS  a slow card: answer every command APDU MS ms after it arrived (the
                        power, reset and ATR messages are answered at once; default 0)
  --verbose             log every command and answer (PIN blocks hidden)
  --help                this text

control channel (one command per line, answered by one line "ok ..." or "error ..."):
  remove                  pull the card out
  insert                  put the card in
  swap PROFILE [HOLD_MS]  pull the card out, insert the card of PROFILE after HOLD_MS;
                          answered "ok swapped NAME" once the new card is in
  load PROFILE            the next insert brings the card of PROFILE
  script SCRIPT           run SCRIPT, its clock and APDU counts starting now
  count [HEX]             number of command APDUs received that begin with HEX
  delay MS                answer every later command APDU MS ms after it arrived (0: at once)
  status                  ok inserted=0|1 connected=0|1 card=NAME commands=N
  quit                    answer "ok bye" and exit

script: steps separated by ';', each TRIGGER,ACTION
  triggers: after:MS                  MS ms after the script was loaded
            then:MS                   MS ms after the previous step fired
            on-apdu:HEX[#K][+MS]      MS ms (default 0) after the K-th (default 1) command
                                      beginning with the bytes HEX (the command is answered
                                      first)
            at-apdu:HEX[#K]           when that command arrives, before it is answered (a
                                      card removed then never answers it)
  actions:  remove | insert | load:PROFILE | swap:PROFILE | delay:MS | quit
            (delay:MS: answer every later command APDU MS ms after it arrived)
  example:  pull the card 1 s after the second VERIFY, put it back 2 s later:
            --script "on-apdu:0020#2+1000,remove;then:2000,insert"
)";

bool number(std::string_view text, long* value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc{} && end == text.data() + text.size();
}

}  // namespace

int main(int argc, char** argv) {
  ruzazuv::sim::CardSimOptions options;
  std::string profile = "default.json";
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&](long low, long high, long* out) {
      if (i + 1 >= argc || !number(argv[i + 1], out) || *out < low || *out > high) {
        std::cerr << "ruzazuv-cardsim: " << arg << " needs a number from " << low << " to " << high
                  << "\n";
        std::exit(2);
      }
      ++i;
    };
    auto text = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "ruzazuv-cardsim: " << arg << " needs a value\n";
        std::exit(2);
      }
      return argv[++i];
    };
    long n = 0;
    if (arg == "--help" || arg == "-h") {
      std::cout << kHelp;
      return 0;
    } else if (arg == "--profile") {
      profile = text();
    } else if (arg == "--host") {
      options.vpcdHost = text();
    } else if (arg == "--port") {
      value(1, 65535, &n);
      options.vpcdPort = static_cast<std::uint16_t>(n);
    } else if (arg == "--control-port") {
      value(0, 65535, &n);
      options.controlPort = static_cast<int>(n);
    } else if (arg == "--script") {
      options.script = text();
    } else if (arg == "--start-removed") {
      options.startRemoved = true;
    } else if (arg == "--swap-hold-ms") {
      value(0, 600000, &n);
      options.swapHold = std::chrono::milliseconds(n);
    } else if (arg == "--answer-delay-ms") {
      value(0, 600000, &n);
      options.answerDelay = std::chrono::milliseconds(n);
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else {
      std::cerr << "ruzazuv-cardsim: unknown option " << arg << " (see --help)\n";
      return 2;
    }
  }
  try {
    options.profile = ruzazuv::sim::resolveProfile(profile);
    ruzazuv::sim::CardSimRunner runner(options);
    return runner.run();
  } catch (const std::exception& e) {
    std::cerr << "ruzazuv-cardsim: " << e.what() << "\n";
    return 1;
  }
}
