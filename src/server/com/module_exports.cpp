// The module's entry points: DllMain and the self-registering in-process server exports.
#include <windows.h>

#include "module_platform.h"
#include "module_server.h"

using ruzazuv::com::ModuleServer;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    ModuleServer::instance().attach(module);
    DisableThreadLibraryCalls(module);
  } else if (reason == DLL_PROCESS_DETACH) {
    const bool processExit = reserved != nullptr;
    ModuleServer::instance().detach(processExit);
    // Unloaded by FreeLibrary once no control is left: the process-wide state goes with the
    // module. At process exit other modules (winmm's timer thread) may be gone already.
    if (!processExit) ruzazuv::com::releaseModulePlatform();
  }
  return TRUE;
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return ModuleServer::instance().lockCount() == 0 ? S_OK : S_FALSE;
}

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return ModuleServer::instance().getClassObject(clsid, iid, out);
}

HRESULT STDAPICALLTYPE DllRegisterServer() {
  return ModuleServer::instance().registerServer(false);
}

HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return ModuleServer::instance().unregisterServer(false);
}

// regsvr32 /n /i:user registers for the current user only (HKCU\Software\Classes); any other
// command line registers per machine as DllRegisterServer does.
HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR commandLine) {
  const bool perUser = commandLine != nullptr && lstrcmpiW(commandLine, L"user") == 0;
  ModuleServer& server = ModuleServer::instance();
  return install ? server.registerServer(perUser) : server.unregisterServer(perUser);
}

}  // extern "C"
