#include "registration.h"

#include <string>

#include "module_resources.h"
#include "module_server.h"
#include "registrar_script.h"

namespace ruzazuv::com {
namespace {

// The registrar script is stored as UTF-8 text.
HRESULT loadScriptText(std::wstring* text) {
  HMODULE module = ModuleServer::instance().handle();
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(IDR_VORN), L"REGISTRY");
  if (found == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  HGLOBAL loaded = LoadResource(module, found);
  const DWORD size = SizeofResource(module, found);
  const auto* bytes = static_cast<const char*>(LockResource(loaded));
  if (bytes == nullptr || size == 0) return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
  const int n =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(size), nullptr, 0);
  if (n <= 0) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  text->assign(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), text->data(), n);
  return S_OK;
}

using RegisterFn = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnregisterFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

// An oleaut32 function by name (the per-user ones are not in every import library).
template <typename Fn>
Fn oleautFunction(const char* name) {
  HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll");
  if (oleaut == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(oleaut, name)));
}

}  // namespace

HRESULT openClassesRoot(bool perUser, HKEY* root) {
  if (!perUser) {
    *root = HKEY_CLASSES_ROOT;
    return S_OK;
  }
  const LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0,
                                         KEY_READ | KEY_WRITE, nullptr, root, nullptr);
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

HRESULT updateVornRegistry(bool install, HKEY classesRoot) {
  std::wstring text;
  const HRESULT loaded = loadScriptText(&text);
  if (FAILED(loaded)) return loaded;
  std::string error;
  std::optional<RegistrarScript> script = parseRegistrarScript(text, &error);
  if (!script) {
    OutputDebugStringA(("RuzaZUV: registrar script: " + error + "\n").c_str());
    return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  }
  substituteRegistrarVariable(*script, L"MODULE", ModuleServer::instance().path());
  return install ? registerScript(*script, classesRoot) : unregisterScript(*script, classesRoot);
}

HRESULT registerTypeLibrary(bool perUser) {
  const ModuleServer& module = ModuleServer::instance();
  ITypeLib* library = nullptr;
  HRESULT hr = LoadTypeLibEx(module.path().c_str(), REGKIND_NONE, &library);
  if (FAILED(hr)) return hr;
  std::wstring path = module.path();
  std::wstring help = module.directory();
  if (perUser) {
    auto registerForUser = oleautFunction<RegisterFn>("RegisterTypeLibForUser");
    hr = registerForUser != nullptr ? registerForUser(library, path.data(), help.data())
                                    : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  } else {
    hr = RegisterTypeLib(library, path.data(), help.data());
  }
  library->Release();
  return hr;
}

void unregisterTypeLibrary(bool perUser) {
  ITypeLib* library = nullptr;
  if (FAILED(LoadTypeLibEx(ModuleServer::instance().path().c_str(), REGKIND_NONE, &library)))
    return;
  TLIBATTR* attributes = nullptr;
  if (SUCCEEDED(library->GetLibAttr(&attributes))) {
    auto unregister =
        oleautFunction<UnregisterFn>(perUser ? "UnRegisterTypeLibForUser" : "UnRegisterTypeLib");
    if (unregister != nullptr)
      unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                 attributes->lcid, attributes->syskind);
    library->ReleaseTLibAttr(attributes);
  }
  library->Release();
}

}  // namespace ruzazuv::com
