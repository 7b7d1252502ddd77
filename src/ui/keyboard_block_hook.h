// The keyboard block of the confirmation dialog: one process-wide hook that, while installed,
// neutralises keyboard input and window-closing messages taken from the installing thread's
// queue. A view routes every message of its thread through filter() before dispatching it and
// drops (or dispatches as a null message) whatever comes back with message number 0.
#pragma once

#include <cstdint>

namespace ruzazuv {

// A queued window message as the hook sees it.
struct WindowMessage {
  std::uintptr_t window = 0;
  std::uint32_t message = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;

  bool operator==(const WindowMessage&) const = default;
};

// Message numbers the dialogs and the hook deal in (Windows values).
namespace window_message {
inline constexpr std::uint32_t kNull = 0x0000;
inline constexpr std::uint32_t kDestroy = 0x0002;
inline constexpr std::uint32_t kSize = 0x0005;
inline constexpr std::uint32_t kClose = 0x0010;
inline constexpr std::uint32_t kShowWindow = 0x0018;
inline constexpr std::uint32_t kCopyData = 0x004A;
inline constexpr std::uint32_t kKeyDown = 0x0100;  // first of the key messages
inline constexpr std::uint32_t kKeyUp = 0x0101;
inline constexpr std::uint32_t kChar = 0x0102;
inline constexpr std::uint32_t kSysKeyDown = 0x0104;
inline constexpr std::uint32_t kSysDeadChar = 0x0107;
inline constexpr std::uint32_t kKeyLast = 0x0108;  // last of the key messages
inline constexpr std::uint32_t kMouseMove = 0x0200;
inline constexpr std::uint32_t kLeftButtonDown = 0x0201;
}  // namespace window_message

class KeyboardBlockHook {
 public:
  // Installs the hook for the calling thread unless one is installed already; returns whether
  // this call installed it.
  static bool install();
  // Removes the hook if one is installed (from any thread) and clears the process's handle.
  static void remove();
  static bool installed();

  // The hook procedure. `code` is the hook's action code and `removed` whether the message is
  // being taken off the queue (false: only peeked at). Messages on the installing thread that
  // are being removed with a non-negative code and are key messages (0x0100 to 0x0108) or
  // WM_DESTROY, WM_SIZE, WM_CLOSE, WM_SHOWWINDOW or WM_COPYDATA have all four fields set to 0.
  // Returns true when it changed the message.
  static bool filter(WindowMessage& message, bool removed = true, int code = 0);

  // Whether a message number is one the hook neutralises.
  static bool blocks(std::uint32_t message);
};

}  // namespace ruzazuv
