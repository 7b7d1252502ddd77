// Self-registration: the registrar script of resource 102 with the module's path in place of
// %MODULE%, and the type library embedded as resource 1.
#pragma once

#include <windows.h>

namespace ruzazuv::com {

// Writes (install) or removes the registry entries of coclass Vorn under `classesRoot`.
HRESULT updateVornRegistry(bool install, HKEY classesRoot);

// Registers the module's type library with the module's folder as its help folder, per machine
// or for the current user.
HRESULT registerTypeLibrary(bool perUser);
// Unregisters it by its identifier, version, locale and system kind, through UnRegisterTypeLib
// (or UnRegisterTypeLibForUser) looked up by name in oleaut32; skipped when absent.
void unregisterTypeLibrary(bool perUser);

// Opens HKEY_CLASSES_ROOT, or HKCU\Software\Classes for a per-user registration. The caller
// closes a key that is not HKEY_CLASSES_ROOT.
HRESULT openClassesRoot(bool perUser, HKEY* root);

}  // namespace ruzazuv::com
