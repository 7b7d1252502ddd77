#include "cli/doctor_report.h"

#include <nlohmann/json.hpp>

namespace ruzazuv::doctor {

std::string_view verdictWord(Verdict verdict) {
  switch (verdict) {
    case Verdict::kOk:
      return "ok";
    case Verdict::kWarn:
      return "warn";
    case Verdict::kFail:
      return "FAIL";
    case Verdict::kSkip:
      return "skip";
  }
  return "?";
}

int exitStatus(const std::vector<Finding>& findings) {
  for (const Finding& f : findings)
    if (f.verdict == Verdict::kFail) return f.failCode;
  return exit_code::kReady;
}

void printText(const std::vector<Finding>& findings, std::ostream& out) {
  for (const Finding& f : findings) {
    std::string word(verdictWord(f.verdict));
    word.resize(5, ' ');
    out << word << f.id;
    if (!f.subject.empty()) out << " (" << f.subject << ")";
    out << ": " << f.found;
    if (!f.advice.empty()) out << " -> " << f.advice;
    out << "\n";
  }
}

void printJson(const std::vector<Finding>& findings, std::ostream& out) {
  nlohmann::ordered_json checks = nlohmann::ordered_json::array();
  for (const Finding& f : findings) {
    nlohmann::ordered_json check = {{"id", f.id}};
    if (!f.subject.empty()) check["subject"] = f.subject;
    check["verdict"] = verdictWord(f.verdict);
    check["found"] = f.found;
    check["advice"] = f.advice;
    checks.push_back(std::move(check));
  }
  // Reader and file names come from outside: replace what is not UTF-8 instead of throwing.
  out << nlohmann::ordered_json{{"checks", checks}, {"exit", exitStatus(findings)}}.dump(
             -1, ' ', false, nlohmann::json::error_handler_t::replace)
      << "\n";
}

}  // namespace ruzazuv::doctor
