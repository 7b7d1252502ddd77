// The doctor's findings and how they are reported: one line per check (verdict, what was found,
// what to do), or one JSON object; and the exit status the findings give.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace ruzazuv::doctor {

enum class Verdict { kOk, kWarn, kFail, kSkip };

// The exit statuses, in the order of the checks that give them: the first failing check decides.
namespace exit_code {
inline constexpr int kReady = 0;      // everything a page needs is in place
inline constexpr int kNoPcscd = 1;    // the smart-card service does not answer
inline constexpr int kUsage = 2;      // bad command line
inline constexpr int kNoReader = 3;   // no card reader
inline constexpr int kNoCard = 4;     // no card, or the card's bank application does not answer
inline constexpr int kNoBridge = 5;   // the bridge does not answer and no extension host is set up
inline constexpr int kPortTaken = 6;  // another program holds the bridge's port
inline constexpr int kNoDialogs = 7;  // the bridge's dialogs cannot be shown
}  // namespace exit_code

struct Finding {
  std::string id;  // the check, e.g. "pcscd", "card"
  Verdict verdict = Verdict::kOk;
  std::string found;    // what was found, in plain words
  std::string advice;   // what to do; empty when nothing needs doing
  int failCode = 0;     // the exit status this finding gives when it fails
  std::string subject;  // what it is about when a check has several lines (a reader, a browser)
};

// "ok", "warn", "FAIL", "skip".
std::string_view verdictWord(Verdict verdict);

// The exit status: the failCode of the first failing finding, else kReady.
int exitStatus(const std::vector<Finding>& findings);

// One line per finding: the verdict word padded to one width, the check, what was found, and
// after " -> " what to do.
void printText(const std::vector<Finding>& findings, std::ostream& out);

// {"checks": [{"id", "subject"?, "verdict", "found", "advice"}...], "exit": N}, on one line.
void printJson(const std::vector<Finding>& findings, std::ostream& out);

}  // namespace ruzazuv::doctor
