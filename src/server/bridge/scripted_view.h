// A view without windows for `--ui scripted:ACTIONS`: it runs each dialog in a nested Qt event
// loop, as a real modal dialog does, and feeds the confirmation dialog the listed actions from
// that loop. The countdown is left to its procedure, which ends it from the timer's thread.
#pragma once

#include <deque>
#include <vector>

#include "bridge/scripted_actions.h"
#include "ui/dialog_host.h"

namespace ruzazuv::bridge {

class ScriptedView final : public DialogHost {
 public:
  explicit ScriptedView(std::vector<ViewAction> actions)
      : actions_(actions.begin(), actions.end()) {}

  std::int32_t runModal(DialogModel& model) override;
  // Message boxes are answered at once; their text goes to the log.
  void messageBox(std::u16string_view text) override;

  std::size_t actionsLeft() const { return actions_.size(); }

 private:
  std::deque<ViewAction> actions_;
};

}  // namespace ruzazuv::bridge
