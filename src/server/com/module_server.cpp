#include "module_server.h"

#include "class_factory.h"
#include "registration.h"
#include "ruzazuv_idl.h"
#include "vorn_control.h"

namespace ruzazuv::com {
namespace {

ObjectMapEntry objectMap[] = {
    {&CLSID_Vorn, &updateVornRegistry, &createClassFactory, &VornControl::create, nullptr, nullptr},
};

}  // namespace

ModuleServer& ModuleServer::instance() {
  static ModuleServer server;
  return server;
}

void ModuleServer::attach(HINSTANCE module) {
  module_ = module;
  InitializeCriticalSection(&classObjectLock_);
  lockReady_ = true;
  typeLibId_ = LIBID_RUZAZUVLib;
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  path_ = std::move(path);
}

void ModuleServer::detach(bool processExit) {
  if (!lockReady_) return;
  // At process exit other modules may already be gone; the class objects are ours alone, so
  // they can still be released.
  for (ObjectMapEntry& entry : objectMap)
    if (entry.classObject != nullptr) {
      entry.classObject->Release();
      entry.classObject = nullptr;
    }
  if (!processExit) DeleteCriticalSection(&classObjectLock_);
  lockReady_ = false;
}

std::wstring ModuleServer::directory() const {
  const std::size_t slash = path_.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path_.substr(0, slash);
}

HRESULT ModuleServer::getClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  for (ObjectMapEntry& entry : objectMap) {
    if (!IsEqualCLSID(clsid, *entry.clsid)) continue;
    if (entry.classObject == nullptr) {
      EnterCriticalSection(&classObjectLock_);
      HRESULT made = S_OK;
      if (entry.classObject == nullptr)
        made = entry.createClassObject(entry.createInstance, IID_IUnknown,
                                       reinterpret_cast<void**>(&entry.classObject));
      LeaveCriticalSection(&classObjectLock_);
      if (FAILED(made)) return made;
    }
    return entry.classObject->QueryInterface(iid, out);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ModuleServer::registerServer(bool perUser) {
  HKEY root = nullptr;
  HRESULT hr = openClassesRoot(perUser, &root);
  if (FAILED(hr)) return hr;
  for (const ObjectMapEntry& entry : objectMap) {
    hr = entry.updateRegistry(true, root);
    if (FAILED(hr)) break;
  }
  if (root != HKEY_CLASSES_ROOT) RegCloseKey(root);
  if (FAILED(hr)) return hr;
  return registerTypeLibrary(perUser);
}

HRESULT ModuleServer::unregisterServer(bool perUser) {
  HKEY root = nullptr;
  if (SUCCEEDED(openClassesRoot(perUser, &root))) {
    for (const ObjectMapEntry& entry : objectMap) entry.updateRegistry(false, root);
    if (root != HKEY_CLASSES_ROOT) RegCloseKey(root);
  }
  unregisterTypeLibrary(perUser);
  return S_OK;
}

}  // namespace ruzazuv::com
