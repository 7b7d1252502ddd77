// ruzazuv-pcsc-wait: waits until PC/SC readers report a card present (or absent), for the
// real-stack harness. Talks to pcsc-lite directly.
#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr const char* kHelp = R"(usage: ruzazuv-pcsc-wait [--timeout MS] [--state present|empty]
                         (--reader NAME ... | --count N | --list)

Waits until every named reader (or each of the first N readers listed) reports the state
through SCardGetStatusChange, then prints the readers' names, one per line. Waits for the
PC/SC service to come up as well.
  --timeout MS   give up after MS ms (default 10000); exit code 1
  --state S      present (default) or empty
  --list         print every reader with its event state in hex and exit
)";

using Clock = std::chrono::steady_clock;

std::vector<std::string> listReaders(SCARDCONTEXT context) {
  DWORD length = 0;
  if (SCardListReaders(context, nullptr, nullptr, &length) != SCARD_S_SUCCESS || length == 0) {
    return {};
  }
  std::vector<char> buffer(length);
  if (SCardListReaders(context, nullptr, buffer.data(), &length) != SCARD_S_SUCCESS) return {};
  std::vector<std::string> names;
  for (const char* p = buffer.data(); p < buffer.data() + length && *p; p += std::strlen(p) + 1) {
    names.emplace_back(p);
  }
  return names;
}

// The reader's event state, or 0 when it cannot be read.
DWORD eventState(SCARDCONTEXT context, const std::string& reader) {
  SCARD_READERSTATE state{};
  state.szReader = reader.c_str();
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  if (SCardGetStatusChange(context, 0, &state, 1) != SCARD_S_SUCCESS) return 0;
  return state.dwEventState;
}

}  // namespace

int main(int argc, char** argv) {
  long timeoutMs = 10000;
  DWORD wanted = SCARD_STATE_PRESENT;
  std::vector<std::string> readers;
  long count = 0;
  bool list = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help") {
      std::cout << kHelp;
      return 0;
    } else if (arg == "--timeout" && hasValue) {
      const std::string_view v = argv[++i];
      if (std::from_chars(v.data(), v.data() + v.size(), timeoutMs).ec != std::errc{}) return 2;
    } else if (arg == "--state" && hasValue) {
      const std::string_view v = argv[++i];
      if (v == "present") {
        wanted = SCARD_STATE_PRESENT;
      } else if (v == "empty") {
        wanted = SCARD_STATE_EMPTY;
      } else {
        std::cerr << "ruzazuv-pcsc-wait: --state is present or empty\n";
        return 2;
      }
    } else if (arg == "--reader" && hasValue) {
      readers.emplace_back(argv[++i]);
    } else if (arg == "--count" && hasValue) {
      const std::string_view v = argv[++i];
      if (std::from_chars(v.data(), v.data() + v.size(), count).ec != std::errc{} || count < 1) {
        return 2;
      }
    } else if (arg == "--list") {
      list = true;
    } else {
      std::cerr << "ruzazuv-pcsc-wait: bad argument " << arg << " (see --help)\n";
      return 2;
    }
  }
  if (!list && readers.empty() && count == 0) {
    std::cerr << kHelp;
    return 2;
  }

  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  SCARDCONTEXT context = 0;
  bool haveContext = false;
  std::string lastProblem = "no PC/SC service";
  while (Clock::now() < deadline) {
    if (!haveContext) {
      haveContext =
          SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) == SCARD_S_SUCCESS;
    }
    if (haveContext) {
      auto listed = listReaders(context);
      if (list) {
        for (const auto& r : listed) {
          std::printf("%s\t0x%08lX\n", r.c_str(),
                      static_cast<unsigned long>(eventState(context, r)));
        }
        SCardReleaseContext(context);
        return 0;
      }
      std::vector<std::string> chosen = readers;
      if (chosen.empty() && static_cast<long>(listed.size()) >= count) {
        chosen.assign(listed.begin(), listed.begin() + count);
      }
      bool all = !chosen.empty();
      for (const auto& r : chosen) {
        if (!(eventState(context, r) & wanted)) {
          all = false;
          lastProblem = "reader \"" + r + "\" not yet in the state";
        }
      }
      if (chosen.empty()) lastProblem = "fewer readers than asked for";
      if (all) {
        for (const auto& r : chosen) std::printf("%s\n", r.c_str());
        SCardReleaseContext(context);
        return 0;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (haveContext) SCardReleaseContext(context);
  std::cerr << "ruzazuv-pcsc-wait: timed out: " << lastProblem << "\n";
  return 1;
}
