// The answers of `--ui scripted:ACTIONS`: a comma-separated list consumed in order, one action
// per step of a confirmation dialog. Each may end in "@MS", a wait before it is fed (default 0).
//   ok          click the real OK button where it is
//   cancel      click Cancel
//   decoy       click decoy 204
//   background  press the left button on the dialog's background
//   unavailable the confirmation dialog cannot be created
//   hold        leave the dialog open until its page's connection closes
// When the list runs out, an open confirmation dialog is cancelled.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruzazuv::bridge {

enum class ViewStep { kOk, kCancel, kDecoy, kBackground, kUnavailable, kHold };

struct ViewAction {
  ViewStep step = ViewStep::kCancel;
  std::uint32_t delayMs = 0;
  bool operator==(const ViewAction&) const = default;
};

// Parses the text after "scripted:"; nothing with `*error` set for a bad list.
std::optional<std::vector<ViewAction>> parseViewActions(std::string_view text, std::string* error);

}  // namespace ruzazuv::bridge
