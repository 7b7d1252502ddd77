// The module's own state: its instance handle and path, the lock count that says whether it may
// be unloaded, and the object map with the one class it serves (coclass Vorn) and that class's
// cached class object.
#pragma once

#include <windows.h>

#include <string>

namespace ruzazuv::com {

// One class the module serves: how to register it, make its class object and its instances.
struct ObjectMapEntry {
  const CLSID* clsid;
  // Runs the class's registrar script; `install` false removes what it wrote.
  HRESULT (*updateRegistry)(bool install, HKEY classesRoot);
  // Makes a class object whose instances `createInstance` makes.
  HRESULT(*createClassObject)
  (HRESULT (*createInstance)(IUnknown* outer, REFIID, void**), REFIID, void**);
  HRESULT (*createInstance)(IUnknown* outer, REFIID, void**);
  IUnknown* classObject;       // created on the first request, held until the module is unloaded
  const wchar_t* description;  // none
};

class ModuleServer {
 public:
  static ModuleServer& instance();

  // Process attach and detach (DllMain). `processExit` is true when the whole process ends,
  // when nothing but memory may be touched.
  void attach(HINSTANCE module);
  void detach(bool processExit);

  HINSTANCE handle() const { return module_; }
  const std::wstring& path() const { return path_; }
  // The folder of the module, without a trailing separator.
  std::wstring directory() const;
  const GUID& typeLibId() const { return typeLibId_; }

  // Live objects and server locks.
  void lock() { InterlockedIncrement(&locks_); }
  void unlock() { InterlockedDecrement(&locks_); }
  LONG lockCount() const { return InterlockedCompareExchange(&locks_, 0, 0); }

  HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** out);
  // Registration of every map entry, then of the type library (per machine under
  // HKEY_CLASSES_ROOT, or for the current user under HKCU\Software\Classes).
  HRESULT registerServer(bool perUser);
  HRESULT unregisterServer(bool perUser);

 private:
  ModuleServer() = default;

  HINSTANCE module_ = nullptr;
  std::wstring path_;
  GUID typeLibId_{};
  mutable volatile LONG locks_ = 0;
  CRITICAL_SECTION classObjectLock_{};
  bool lockReady_ = false;
};

}  // namespace ruzazuv::com
