#include "bridge/scripted_actions.h"

#include <charconv>

namespace ruzazuv::bridge {

std::optional<std::vector<ViewAction>> parseViewActions(std::string_view text, std::string* error) {
  static constexpr std::uint32_t kMaxDelayMs = 600000;
  std::vector<ViewAction> actions;
  if (text.empty()) return actions;
  while (true) {
    const std::size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    ViewAction action;
    if (const std::size_t at = item.find('@'); at != std::string_view::npos) {
      const std::string_view delay = item.substr(at + 1);
      auto [ptr, ec] = std::from_chars(delay.data(), delay.data() + delay.size(), action.delayMs);
      if (delay.empty() || ec != std::errc() || ptr != delay.data() + delay.size() ||
          action.delayMs > kMaxDelayMs) {
        *error = "bad wait in scripted action: " + std::string(item);
        return std::nullopt;
      }
      item = item.substr(0, at);
    }
    if (item == "ok") {
      action.step = ViewStep::kOk;
    } else if (item == "cancel") {
      action.step = ViewStep::kCancel;
    } else if (item == "decoy") {
      action.step = ViewStep::kDecoy;
    } else if (item == "background") {
      action.step = ViewStep::kBackground;
    } else if (item == "unavailable") {
      action.step = ViewStep::kUnavailable;
    } else if (item == "hold") {
      action.step = ViewStep::kHold;
    } else {
      *error = "unknown scripted action: " + std::string(item);
      return std::nullopt;
    }
    actions.push_back(action);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return actions;
}

}  // namespace ruzazuv::bridge
