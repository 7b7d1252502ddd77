#include "views/input_block_filter.h"

#include <QEvent>
#include <QKeyEvent>

#include "ui/keyboard_block_hook.h"

namespace ruzazuv::views {

namespace wm = window_message;

namespace {
constexpr std::uint32_t kSysKeyUp = 0x0105;
}  // namespace

std::optional<std::uint32_t> windowMessageFor(const QEvent& event) {
  const auto alt = [&event] {
    return (static_cast<const QKeyEvent&>(event).modifiers() & Qt::AltModifier) != 0;
  };
  switch (event.type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
      return alt() ? wm::kSysKeyDown : wm::kKeyDown;
    case QEvent::KeyRelease:
      return alt() ? kSysKeyUp : wm::kKeyUp;
    case QEvent::Shortcut:
      return wm::kKeyDown;
    case QEvent::InputMethod:
      return wm::kChar;
    case QEvent::Close:
      return wm::kClose;
    default:
      return std::nullopt;
  }
}

bool InputBlockFilter::eventFilter(QObject* watched, QEvent* event) {
  const std::optional<std::uint32_t> number = windowMessageFor(*event);
  if (!number || !KeyboardBlockHook::installed()) return false;
  WindowMessage message{reinterpret_cast<std::uintptr_t>(watched), *number, 0, 0};
  if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)
    message.wParam = static_cast<std::uintptr_t>(static_cast<QKeyEvent*>(event)->key());
  if (!KeyboardBlockHook::filter(message)) return false;
  ++dropped_;
  if (event->type() == QEvent::ShortcutOverride) {
    // Accepted: the key is not tried as a shortcut; its press then arrives here and is dropped.
    event->accept();
  } else {
    // A close event left accepted would let QWidget::close() hide the window all the same.
    event->ignore();
  }
  return true;
}

}  // namespace ruzazuv::views
