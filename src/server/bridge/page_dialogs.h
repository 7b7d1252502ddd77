// The dialog host the bridge gives its controls: it forwards to the view (Qt, scripted) and
// knows which page's call opened the dialogs. When that page's connection goes away while its
// call runs, its confirmation dialog ends as if Cancel were pressed (at once, or as soon as it
// opens), and no further message box is shown for it; the call then completes as it would
// after a cancel. Dialogs that only their procedure closes (the countdown) are left to it.
//
// Runs on the bridge's main thread only.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "ui/dialog_host.h"

namespace ruzazuv::bridge {

class PageDialogs final : public DialogHost {
 public:
  explicit PageDialogs(DialogHost& view) : view_(view) {}

  // A call starts; its page is there.
  void beginCall() { gone_ = false; }
  // The page of the running call has gone: cancel its open confirmation dialogs.
  void pageGone();
  bool pageIsGone() const { return gone_; }
  std::size_t openDialogs() const { return open_.size(); }

  std::int32_t runModal(DialogModel& model) override;
  void messageBox(std::u16string_view text) override;

 private:
  class Tap;
  void cancel(Tap& tap);

  DialogHost& view_;
  std::vector<Tap*> open_;
  bool gone_ = false;
};

}  // namespace ruzazuv::bridge
