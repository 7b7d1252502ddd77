#include "cardsim_script.h"

#include <charconv>
#include <stdexcept>

#include "sim_hex.h"

namespace ruzazuv::sim {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

[[noreturn]] void bad(std::string_view step, const char* why) {
  throw std::invalid_argument("script step \"" + std::string(step) + "\": " + why);
}

long number(std::string_view text, std::string_view step) {
  long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size() || value < 0) {
    bad(step, "expected a non-negative number");
  }
  return value;
}

ScriptStep parseStep(std::string_view step) {
  const auto comma = step.find(',');
  if (comma == std::string_view::npos) bad(step, "expected TRIGGER,ACTION");
  const std::string_view trigger = trim(step.substr(0, comma));
  const std::string_view action = trim(step.substr(comma + 1));
  ScriptStep s;

  if (trigger.starts_with("after:")) {
    s.trigger = ScriptStep::Trigger::kAfter;
    s.delay = std::chrono::milliseconds(number(trigger.substr(6), step));
  } else if (trigger.starts_with("then:")) {
    s.trigger = ScriptStep::Trigger::kThen;
    s.delay = std::chrono::milliseconds(number(trigger.substr(5), step));
  } else if (trigger.starts_with("on-apdu:") || trigger.starts_with("at-apdu:")) {
    const bool before = trigger.starts_with("at-apdu:");
    s.trigger = before ? ScriptStep::Trigger::kAtApdu : ScriptStep::Trigger::kOnApdu;
    std::string_view rest = trigger.substr(8);
    if (auto plus = rest.find('+'); plus != std::string_view::npos) {
      if (before) bad(step, "at-apdu acts when the command arrives and takes no delay");
      s.delay = std::chrono::milliseconds(number(rest.substr(plus + 1), step));
      rest = rest.substr(0, plus);
    }
    if (auto hash = rest.find('#'); hash != std::string_view::npos) {
      s.occurrence = static_cast<int>(number(rest.substr(hash + 1), step));
      if (s.occurrence < 1) bad(step, "the occurrence counts from 1");
      rest = rest.substr(0, hash);
    }
    auto prefix = parseHex(rest);
    if (!prefix || prefix->empty()) bad(step, "expected the APDU's first bytes in hex");
    s.prefix = *prefix;
  } else {
    bad(step, "the trigger is after:MS, then:MS, on-apdu:HEX[#K][+MS] or at-apdu:HEX[#K]");
  }

  if (action == "remove") {
    s.action = ScriptStep::Action::kRemove;
  } else if (action == "insert") {
    s.action = ScriptStep::Action::kInsert;
  } else if (action == "quit") {
    s.action = ScriptStep::Action::kQuit;
  } else if (action.starts_with("load:") || action.starts_with("swap:")) {
    s.action = action.starts_with("load:") ? ScriptStep::Action::kLoad : ScriptStep::Action::kSwap;
    s.argument = std::string(trim(action.substr(5)));
    if (s.argument.empty()) bad(step, "expected a profile file");
  } else if (action.starts_with("delay:")) {
    s.action = ScriptStep::Action::kDelay;
    s.answerDelay = std::chrono::milliseconds(number(trim(action.substr(6)), step));
    if (s.answerDelay.count() > 600000) bad(step, "the delay is at most 600000 ms");
  } else {
    bad(step, "the action is remove, insert, load:PROFILE, swap:PROFILE, delay:MS or quit");
  }
  return s;
}

}  // namespace

std::vector<ScriptStep> parseScript(std::string_view text) {
  std::vector<ScriptStep> steps;
  while (!text.empty()) {
    const auto semicolon = text.find(';');
    const std::string_view step = trim(text.substr(0, semicolon));
    if (!step.empty()) steps.push_back(parseStep(step));
    if (semicolon == std::string_view::npos) break;
    text.remove_prefix(semicolon + 1);
  }
  if (!steps.empty() && steps.front().trigger == ScriptStep::Trigger::kThen) {
    throw std::invalid_argument("script: the first step cannot be then:");
  }
  return steps;
}

}  // namespace ruzazuv::sim
