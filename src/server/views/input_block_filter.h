// The Qt side of KeyboardBlockHook: an application-wide event filter that shows the hook every
// keyboard event and close request of the process as the window message it stands for, and
// drops what the hook neutralises. Only while the hook is installed (by the confirmation
// dialog, on this thread) does anything get dropped.
#pragma once

#include <QObject>
#include <cstdint>
#include <optional>

class QEvent;

namespace ruzazuv::views {

// The window message a Qt event stands for, for the events the hook may neutralise: key presses
// (and the shortcut phases of a press) as key down, releases as key up, with Alt as their
// system variants; committed input-method text as a character; close requests as WM_CLOSE.
// Other events (layout, show and destroy notifications Qt sends its own widgets, mouse input)
// are none of the hook's business: nothing.
std::optional<std::uint32_t> windowMessageFor(const QEvent& event);

class InputBlockFilter final : public QObject {
 public:
  using QObject::QObject;

  // How many events have been dropped so far.
  std::uint64_t dropped() const { return dropped_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::uint64_t dropped_ = 0;
};

}  // namespace ruzazuv::views
