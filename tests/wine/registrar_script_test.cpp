// The registrar script interpreter on its own: malformed scripts are refused with the line,
// quoting and substitution, and what registration and unregistration do to keys of each kind
// (under a scratch key of the current user).
#include "registrar_script.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ruzazuv::wine_test {
namespace {

using com::parseRegistrarScript;

TEST(RegistrarScript, MalformedScriptsAreRefused) {
  struct Case {
    const wchar_t* script;
    const char* error;
  };
  const std::vector<Case> cases = {
      {L"HKLM\n{\n}", "expected the root key HKCR at line 1"},
      {L"HKCR\n{\n  Key = s 'never closed\n}", "quoted text not closed (from line 3)"},
      {L"HKCR\n{\n  Key = s 'value'\n", "missing } at line 4"},
      {L"HKCR\n{\n  Key = d '5'\n}", "only string values (s) are known at line 3"},
      {L"HKCR\n{\n  Key = s bare\n}", "expected a quoted value at line 3"},
      {L"HKCR\n{\n  val = s 'x'\n}", "expected a name at line 3"},
      {L"HKCR\n{\n  ForceRemove\n}", "expected a name at line 4"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(parseRegistrarScript(c.script, &error).has_value()) << c.error;
    EXPECT_EQ(error, c.error);
  }
}

TEST(RegistrarScript, QuotesAndVariables) {
  std::string error;
  auto script = parseRegistrarScript(
      L"HKCR { NoRemove 'Two Words' { {0-1} = s 'it''s %MODULE%, 101' { val V = s '%MODULE%' } } }",
      &error);
  ASSERT_TRUE(script.has_value()) << error;
  com::substituteRegistrarVariable(*script, L"MODULE", L"C:\\O'Brien\\m.dll");
  const com::RegistrarKey& outer = script->roots.at(0).subkeys.at(0);
  EXPECT_EQ(outer.name, L"Two Words");
  EXPECT_EQ(outer.removal, com::KeyRemoval::kNoRemove);
  const com::RegistrarKey& inner = outer.subkeys.at(0);
  EXPECT_EQ(inner.name, L"{0-1}");
  EXPECT_EQ(inner.defaultValue.value_or(L"<none>"), L"it's C:\\O'Brien\\m.dll, 101");
  EXPECT_EQ(inner.values.at(0).data, L"C:\\O'Brien\\m.dll");
}

bool exists(HKEY root, const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

TEST(RegistrarScript, RegistrationAndUnregistrationByKind) {
  HKEY root = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\RuzaZUVRegistrarTest", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &root, nullptr),
            ERROR_SUCCESS);
  std::string error;
  auto script = parseRegistrarScript(
      LR"(HKCR
{
  Plain = s 'p'
  {
    Child = s 'c'
  }
  Shared = s 's'
  {
    Mine = s 'm'
  }
  NoRemove Kept
  {
    ForceRemove Tree = s 't'
    {
      Leaf
    }
  }
})",
      &error);
  ASSERT_TRUE(script.has_value()) << error;
  ASSERT_EQ(com::registerScript(*script, root), S_OK);
  for (const wchar_t* key : {L"Plain\\Child", L"Shared\\Mine", L"Kept\\Tree\\Leaf"})
    EXPECT_TRUE(exists(root, key)) << key;

  // Registering again re-creates Tree: what someone put under it goes.
  HKEY stray = nullptr;
  RegCreateKeyExW(root, L"Kept\\Tree\\Stray", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &stray,
                  nullptr);
  RegCloseKey(stray);
  ASSERT_EQ(com::registerScript(*script, root), S_OK);
  EXPECT_FALSE(exists(root, L"Kept\\Tree\\Stray"));

  // Another program's subkey keeps a plain key alive; a NoRemove key always stays.
  HKEY foreign = nullptr;
  RegCreateKeyExW(root, L"Shared\\Theirs", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &foreign,
                  nullptr);
  RegCloseKey(foreign);
  EXPECT_EQ(com::unregisterScript(*script, root), S_OK);
  EXPECT_FALSE(exists(root, L"Plain"));
  EXPECT_FALSE(exists(root, L"Shared\\Mine"));
  EXPECT_TRUE(exists(root, L"Shared\\Theirs"));
  EXPECT_TRUE(exists(root, L"Kept"));
  EXPECT_FALSE(exists(root, L"Kept\\Tree"));

  RegCloseKey(root);
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\RuzaZUVRegistrarTest");
}

}  // namespace
}  // namespace ruzazuv::wine_test
