// A view without a screen, for headless runs and tests: the confirmation dialog is answered
// from a list of actions, the countdown dialog waits until the procedure ends it, and message
// boxes are acknowledged at once. Everything the dialogs show is written to a log stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/dialog_host.h"

namespace ruzazuv {

enum class ScriptedAction {
  kOk,           // click the real OK button where it is
  kCancel,       // click Cancel
  kDecoy,        // click decoy 204 where it is
  kBackground,   // press the left button on the dialog's background
  kUnavailable,  // the confirmation dialog cannot be created
};

std::string_view scriptedActionName(ScriptedAction action);
// Parses "ok,decoy,cancel" (names as above, comma-separated, no spaces; an empty list is
// allowed). Returns an error message for an unknown name.
std::optional<std::string> parseScriptedActions(std::string_view list,
                                                std::vector<ScriptedAction>* out);

class ScriptedDialogHost final : public DialogHost {
 public:
  ScriptedDialogHost(std::vector<ScriptedAction> actions, std::ostream& log);
  ~ScriptedDialogHost() override;

  std::int32_t runModal(DialogModel& model) override;
  void messageBox(std::u16string_view text) override;

  std::size_t actionsLeft() const;

 private:
  class Window;
  std::int32_t runConfirmation(DialogModel& model);
  std::int32_t runUntilEnded(DialogModel& model);
  // The next action; Cancel once the list has run out.
  ScriptedAction takeAction();
  void log(std::string_view line);

  std::vector<ScriptedAction> actions_;
  std::size_t next_ = 0;
  std::ostream& log_;
  mutable std::mutex logMutex_;
};

}  // namespace ruzazuv
