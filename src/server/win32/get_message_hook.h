// The thread's WH_GETMESSAGE hook for the dialogs' modal loops: every message taken from the
// thread's queue passes through KeyboardBlockHook::filter, and what it neutralises goes on as a
// null message. The hook only acts while the model has KeyboardBlockHook installed.
#pragma once

namespace ruzazuv::win32 {

// Installs the hook on the calling thread for the object's lifetime (nothing if that fails).
class GetMessageHook {
 public:
  GetMessageHook();
  ~GetMessageHook();
  GetMessageHook(const GetMessageHook&) = delete;
  GetMessageHook& operator=(const GetMessageHook&) = delete;

  bool installed() const { return hook_ != nullptr; }

 private:
  void* hook_;
};

}  // namespace ruzazuv::win32
