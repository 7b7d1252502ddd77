// The registrar script of the module (resource 102): a tree of registry keys with their default
// and named string values, read from the text form
//
//   HKCR
//   {
//     NoRemove CLSID
//     {
//       ForceRemove {guid} = s 'Vorn Class'
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Apartment'
//         }
//       }
//     }
//   }
//
// and applied to the registry. Registration creates every key and writes its values, deleting a
// ForceRemove key with all its subkeys first; unregistration deletes what registration wrote:
// a ForceRemove key with all its subkeys, a plain key once its listed subkeys are gone and no
// other subkeys remain, and never a NoRemove key. Names and values are bare words or quoted with
// single quotes ('' stands for one quote); only string values (`s`) are used.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruzazuv::com {

enum class KeyRemoval { kPlain, kForceRemove, kNoRemove };

struct RegistrarValue {
  std::wstring name;
  std::wstring data;
};

struct RegistrarKey {
  std::wstring name;
  KeyRemoval removal = KeyRemoval::kPlain;
  std::optional<std::wstring> defaultValue;
  std::vector<RegistrarValue> values;
  std::vector<RegistrarKey> subkeys;
};

struct RegistrarScript {
  // Only HKCR is used: it stands for the classes root the script is applied under.
  std::vector<RegistrarKey> roots;
};

// Parses the script; nullopt with `*error` set (and the line number) when it is malformed.
std::optional<RegistrarScript> parseRegistrarScript(std::wstring_view text, std::string* error);

// Replaces every occurrence of `%NAME%` in the values of the script with `replacement`.
void substituteRegistrarVariable(RegistrarScript& script, std::wstring_view name,
                                 std::wstring_view replacement);

// Writes or removes the script's keys under `classesRoot` (HKEY_CLASSES_ROOT, or a user's
// Software\Classes). Registration stops at the first failure and returns it; unregistration
// removes what it can and returns S_OK.
HRESULT registerScript(const RegistrarScript& script, HKEY classesRoot);
HRESULT unregisterScript(const RegistrarScript& script, HKEY classesRoot);

}  // namespace ruzazuv::com
