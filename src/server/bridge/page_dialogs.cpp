#include "bridge/page_dialogs.h"

#include <algorithm>

#include "ui/confirm_dialog.h"

namespace ruzazuv::bridge {

// Stands between the view and the model: forwards every event, remembers whether the window is
// open, so that the bridge can press Cancel on the model's behalf.
class PageDialogs::Tap final : public DialogModel {
 public:
  Tap(PageDialogs& owner, DialogModel& model) : owner_(owner), model_(model) {}

  const DialogLayout& layout() const override { return model_.layout(); }
  void onInit(DialogWindow& window) override {
    open_ = true;
    model_.onInit(window);
    if (owner_.gone_) owner_.cancel(*this);
  }
  void onMouseMove(int x, int y) override { model_.onMouseMove(x, y); }
  void onLeftButtonDown(int x, int y) override { model_.onLeftButtonDown(x, y); }
  void onCommand(int id, int notification) override { model_.onCommand(id, notification); }
  std::optional<ControlColours> controlColours(int id) const override {
    return model_.controlColours(id);
  }
  void onClosed() override {
    open_ = false;
    model_.onClosed();
  }

  bool open() const { return open_; }
  bool cancellable() const { return model_.layout().templateId == ConfirmDialog::kTemplateId; }

 private:
  PageDialogs& owner_;
  DialogModel& model_;
  bool open_ = false;
};

void PageDialogs::cancel(Tap& tap) {
  // The Cancel button is never disabled; a click on it is command 0 from its id.
  if (tap.open() && tap.cancellable()) tap.onCommand(ConfirmDialog::kCancelId, 0);
}

void PageDialogs::pageGone() {
  gone_ = true;
  // Copy: cancelling may close a dialog, which removes it from open_.
  const std::vector<Tap*> open = open_;
  for (Tap* tap : open) cancel(*tap);
}

std::int32_t PageDialogs::runModal(DialogModel& model) {
  Tap tap(*this, model);
  open_.push_back(&tap);
  struct Remove {
    std::vector<Tap*>& list;
    Tap* tap;
    ~Remove() { list.erase(std::remove(list.begin(), list.end(), tap), list.end()); }
  } remove{open_, &tap};
  return view_.runModal(tap);
}

void PageDialogs::messageBox(std::u16string_view text) {
  if (gone_) return;  // nobody is there to read it
  view_.messageBox(text);
}

}  // namespace ruzazuv::bridge
