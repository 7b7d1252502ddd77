#include "ui/scripted_dialog_host.h"

#include <condition_variable>
#include <map>
#include <ostream>

#include "platform/text_codec.h"
#include "ui/confirm_dialog.h"
#include "ui/countdown_dialog.h"

namespace ruzazuv {

std::string_view scriptedActionName(ScriptedAction action) {
  switch (action) {
    case ScriptedAction::kOk:
      return "ok";
    case ScriptedAction::kCancel:
      return "cancel";
    case ScriptedAction::kDecoy:
      return "decoy";
    case ScriptedAction::kBackground:
      return "background";
    case ScriptedAction::kUnavailable:
      return "unavailable";
  }
  return "?";
}

std::optional<std::string> parseScriptedActions(std::string_view list,
                                                std::vector<ScriptedAction>* out) {
  out->clear();
  if (list.empty()) return std::nullopt;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = list.find(',', start);
    const std::string_view name = list.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    bool known = false;
    for (ScriptedAction a : {ScriptedAction::kOk, ScriptedAction::kCancel, ScriptedAction::kDecoy,
                             ScriptedAction::kBackground, ScriptedAction::kUnavailable}) {
      if (name == scriptedActionName(a)) {
        out->push_back(a);
        known = true;
      }
    }
    if (!known)
      return "unknown dialog action \"" + std::string(name) +
             "\" (ok, cancel, decoy, background, unavailable)";
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return std::nullopt;
}

// The open dialog: the controls as the model has placed and captioned them.
class ScriptedDialogHost::Window final : public DialogWindow {
 public:
  Window(ScriptedDialogHost& host, const DialogLayout& layout) : host_(host), spec_(layout) {
    for (const ControlLayout& c : layout.controls)
      if (c.id != kNoControlId) controls_[c.id] = {c.rect, c.text, c.enabled};
  }

  DialogRect controlRect(int id) override {
    std::lock_guard lock(mutex_);
    auto it = controls_.find(id);
    return it == controls_.end() ? DialogRect{} : it->second.rect;
  }
  void moveControl(int id, DialogRect rect) override {
    std::lock_guard lock(mutex_);
    auto it = controls_.find(id);
    if (it != controls_.end()) it->second.rect = rect;
  }
  void setControlText(int id, std::u16string_view text) override {
    {
      std::lock_guard lock(mutex_);
      auto it = controls_.find(id);
      if (it == controls_.end() || it->second.text == text) return;
      it->second.text = std::u16string(text);
    }
    if (spec_.templateId == CountdownDialog::kTemplateId)
      host_.log("countdown: " + utf16ToUtf8(text));
  }
  void enableControl(int id, bool enabled) override {
    std::lock_guard lock(mutex_);
    auto it = controls_.find(id);
    if (it != controls_.end()) it->second.enabled = enabled;
  }
  void redraw(int) override {}
  void endDialog(std::int32_t code) override {
    {
      std::lock_guard lock(mutex_);
      if (code_) return;
      code_ = code;
    }
    ended_.notify_all();
  }

  // Whether a click at the control's centre reaches it: enabled and on the dialog's surface.
  bool clickable(int id) {
    std::lock_guard lock(mutex_);
    auto it = controls_.find(id);
    if (it == controls_.end() || !it->second.enabled) return false;
    const DialogRect& r = it->second.rect;
    const DialogRect surface{0, 0, spec_.frame.width, spec_.frame.height};
    return surface.contains(r.x + r.width / 2, r.y + r.height / 2);
  }
  std::optional<std::int32_t> code() {
    std::lock_guard lock(mutex_);
    return code_;
  }
  std::int32_t waitForEnd() {
    std::unique_lock lock(mutex_);
    ended_.wait(lock, [this] { return code_.has_value(); });
    return *code_;
  }

 private:
  struct Control {
    DialogRect rect;
    std::u16string text;
    bool enabled = true;
  };
  ScriptedDialogHost& host_;
  const DialogLayout& spec_;
  std::mutex mutex_;
  std::condition_variable ended_;
  std::map<int, Control> controls_;
  std::optional<std::int32_t> code_;
};

ScriptedDialogHost::ScriptedDialogHost(std::vector<ScriptedAction> actions, std::ostream& log)
    : actions_(std::move(actions)), log_(log) {}

ScriptedDialogHost::~ScriptedDialogHost() = default;

std::size_t ScriptedDialogHost::actionsLeft() const {
  return actions_.size() - next_;
}

ScriptedAction ScriptedDialogHost::takeAction() {
  if (next_ >= actions_.size()) return ScriptedAction::kCancel;
  return actions_[next_++];
}

void ScriptedDialogHost::log(std::string_view line) {
  std::lock_guard lock(logMutex_);
  log_ << line << '\n';
  log_.flush();
}

std::int32_t ScriptedDialogHost::runModal(DialogModel& model) {
  if (model.layout().templateId == ConfirmDialog::kTemplateId) return runConfirmation(model);
  return runUntilEnded(model);
}

std::int32_t ScriptedDialogHost::runConfirmation(DialogModel& model) {
  if (next_ < actions_.size() && actions_[next_] == ScriptedAction::kUnavailable) {
    ++next_;
    log("confirmation dialog: cannot be created");
    return -1;
  }
  Window window(*this, model.layout());
  model.onInit(window);
  log("confirmation dialog: opened");
  while (!window.code()) {
    const ScriptedAction action = takeAction();
    std::string line = "confirmation dialog: " + std::string(scriptedActionName(action));
    switch (action) {
      case ScriptedAction::kOk:
      case ScriptedAction::kDecoy:
      case ScriptedAction::kCancel: {
        const int id = action == ScriptedAction::kOk      ? ConfirmDialog::kOkId
                       : action == ScriptedAction::kDecoy ? ConfirmDialog::kDecoyId1
                                                          : ConfirmDialog::kCancelId;
        if (window.clickable(id)) {
          model.onCommand(id, 0);
        } else {
          line += " (the button is disabled or out of reach: nothing happens)";
        }
        break;
      }
      case ScriptedAction::kBackground: {
        // The top-left corner of the client area holds no control.
        model.onLeftButtonDown(2, 2);
        break;
      }
      case ScriptedAction::kUnavailable:
        line += " (ignored: the dialog is already open)";
        break;
    }
    log(line);
  }
  model.onClosed();
  const std::int32_t code = *window.code();
  log("confirmation dialog: closed with " + std::to_string(code));
  return code;
}

std::int32_t ScriptedDialogHost::runUntilEnded(DialogModel& model) {
  Window window(*this, model.layout());
  model.onInit(window);
  const std::int32_t code = window.waitForEnd();
  model.onClosed();
  log(utf16ToUtf8(model.layout().title) + " closed with " + std::to_string(code));
  return code;
}

void ScriptedDialogHost::messageBox(std::u16string_view text) {
  std::string shown;
  for (char c : utf16ToUtf8(text)) {
    if (c == '\r') {
      shown += "\\r";
    } else if (c == '\n') {
      shown += "\\n";
    } else {
      shown += c;
    }
  }
  log("message box: " + shown + " [OK]");
}

}  // namespace ruzazuv
