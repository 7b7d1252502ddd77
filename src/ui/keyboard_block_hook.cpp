#include "ui/keyboard_block_hook.h"

#include <mutex>
#include <thread>

namespace ruzazuv {
namespace {

struct HookSlot {
  std::mutex mutex;
  bool installed = false;
  std::thread::id thread;
};

HookSlot& slot() {
  static HookSlot s;
  return s;
}

}  // namespace

bool KeyboardBlockHook::install() {
  HookSlot& s = slot();
  std::lock_guard lock(s.mutex);
  if (s.installed) return false;
  s.installed = true;
  s.thread = std::this_thread::get_id();
  return true;
}

void KeyboardBlockHook::remove() {
  HookSlot& s = slot();
  std::lock_guard lock(s.mutex);
  s.installed = false;
  s.thread = std::thread::id();
}

bool KeyboardBlockHook::installed() {
  HookSlot& s = slot();
  std::lock_guard lock(s.mutex);
  return s.installed;
}

bool KeyboardBlockHook::blocks(std::uint32_t message) {
  using namespace window_message;
  if (message >= kKeyDown && message <= kKeyLast) return true;
  return message == kDestroy || message == kSize || message == kClose || message == kShowWindow ||
         message == kCopyData;
}

bool KeyboardBlockHook::filter(WindowMessage& message, bool removed, int code) {
  {
    HookSlot& s = slot();
    std::lock_guard lock(s.mutex);
    // The hook watches only the queue of the thread that installed it.
    if (!s.installed || s.thread != std::this_thread::get_id()) return false;
  }
  if (code < 0 || !removed || !blocks(message.message)) return false;
  message = WindowMessage{};
  return true;
}

}  // namespace ruzazuv
