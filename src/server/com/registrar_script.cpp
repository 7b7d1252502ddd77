#include "registrar_script.h"

#include <cwctype>

namespace ruzazuv::com {
namespace {

enum class TokenKind { kWord, kQuoted, kOpen, kClose, kEquals, kEnd };

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::wstring text;
  int line = 1;
};

class Lexer {
 public:
  explicit Lexer(std::wstring_view text) : text_(text) {}

  // False with `*error` set for a quoted text that never ends.
  bool next(Token* token, std::string* error) {
    skipSpace();
    token->line = line_;
    token->text.clear();
    if (pos_ >= text_.size()) {
      token->kind = TokenKind::kEnd;
      return true;
    }
    const wchar_t c = text_[pos_];
    // A brace standing alone opens or closes a block; one followed by more text starts a name
    // such as a braced class identifier.
    if ((c == L'{' && endsAfter(pos_ + 1)) || c == L'}') {
      token->kind = c == L'{' ? TokenKind::kOpen : TokenKind::kClose;
      ++pos_;
      return true;
    }
    if (c == L'=') {
      token->kind = TokenKind::kEquals;
      ++pos_;
      return true;
    }
    if (c == L'\'') return quoted(token, error);
    token->kind = TokenKind::kWord;
    while (pos_ < text_.size() && !std::iswspace(text_[pos_]) && text_[pos_] != L'=' &&
           text_[pos_] != L'\'' &&
           !(text_[pos_] == L'}' && !token->text.empty() && token->text.front() != L'{'))
      token->text.push_back(text_[pos_++]);
    return true;
  }

 private:
  bool endsAfter(std::size_t i) const { return i >= text_.size() || std::iswspace(text_[i]); }

  void skipSpace() {
    while (pos_ < text_.size() && std::iswspace(text_[pos_])) {
      if (text_[pos_] == L'\n') ++line_;
      ++pos_;
    }
  }

  bool quoted(Token* token, std::string* error) {
    token->kind = TokenKind::kQuoted;
    ++pos_;
    while (pos_ < text_.size()) {
      const wchar_t c = text_[pos_++];
      if (c == L'\'') {
        if (pos_ < text_.size() && text_[pos_] == L'\'') {
          token->text.push_back(L'\'');
          ++pos_;
          continue;
        }
        return true;
      }
      if (c == L'\n') ++line_;
      token->text.push_back(c);
    }
    *error = "quoted text not closed (from line " + std::to_string(token->line) + ")";
    return false;
  }

  std::wstring_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

bool sameWord(const Token& t, std::wstring_view word) {
  if (t.kind != TokenKind::kWord || t.text.size() != word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (std::towlower(t.text[i]) != std::towlower(word[i])) return false;
  return true;
}

class Parser {
 public:
  Parser(std::wstring_view text, std::string* error) : lexer_(text), error_(error) {}

  std::optional<RegistrarScript> script() {
    RegistrarScript result;
    if (!advance()) return std::nullopt;
    while (token_.kind != TokenKind::kEnd) {
      if (!sameWord(token_, L"HKCR")) {
        fail("expected the root key HKCR");
        return std::nullopt;
      }
      RegistrarKey root;
      root.name = token_.text;
      root.removal = KeyRemoval::kNoRemove;
      if (!advance() || !block(&root)) return std::nullopt;
      result.roots.push_back(std::move(root));
    }
    return result;
  }

 private:
  bool advance() { return lexer_.next(&token_, error_); }

  bool fail(const std::string& what) {
    *error_ = what + " at line " + std::to_string(token_.line);
    return false;
  }

  // `{ item* }` where an item is a key or `val NAME = s 'DATA'`; the current token is `{`.
  bool block(RegistrarKey* key) {
    if (token_.kind != TokenKind::kOpen) return fail("expected {");
    if (!advance()) return false;
    while (token_.kind != TokenKind::kClose) {
      if (token_.kind == TokenKind::kEnd) return fail("missing }");
      if (sameWord(token_, L"val")) {
        RegistrarValue value;
        if (!advance() || !name(&value.name) || !stringValue(&value.data)) return false;
        key->values.push_back(std::move(value));
        continue;
      }
      RegistrarKey sub;
      if (!subkey(&sub)) return false;
      key->subkeys.push_back(std::move(sub));
    }
    return advance();
  }

  bool subkey(RegistrarKey* key) {
    if (sameWord(token_, L"ForceRemove") || sameWord(token_, L"NoRemove")) {
      key->removal =
          sameWord(token_, L"NoRemove") ? KeyRemoval::kNoRemove : KeyRemoval::kForceRemove;
      if (!advance()) return false;
    }
    if (!name(&key->name)) return false;
    if (token_.kind == TokenKind::kEquals) {
      key->defaultValue.emplace();
      if (!stringValue(&*key->defaultValue)) return false;
    }
    if (token_.kind == TokenKind::kOpen) return block(key);
    return true;
  }

  // A key or value name; consumes it.
  bool name(std::wstring* out) {
    if ((token_.kind != TokenKind::kWord && token_.kind != TokenKind::kQuoted) ||
        token_.text.empty())
      return fail("expected a name");
    *out = token_.text;
    return advance();
  }

  // `= s 'DATA'`, the current token being `=` (values without `=` are refused as well).
  bool stringValue(std::wstring* out) {
    if (token_.kind != TokenKind::kEquals) return fail("expected =");
    if (!advance()) return false;
    if (!sameWord(token_, L"s")) return fail("only string values (s) are known");
    if (!advance()) return false;
    if (token_.kind != TokenKind::kQuoted) return fail("expected a quoted value");
    *out = token_.text;
    return advance();
  }

  Lexer lexer_;
  std::string* error_;
  Token token_;
};

void substitute(std::wstring& text, std::wstring_view pattern, std::wstring_view replacement) {
  for (std::size_t at = text.find(pattern); at != std::wstring::npos;
       at = text.find(pattern, at + replacement.size()))
    text.replace(at, pattern.size(), replacement);
}

void substituteKey(RegistrarKey& key, std::wstring_view pattern, std::wstring_view replacement) {
  if (key.defaultValue) substitute(*key.defaultValue, pattern, replacement);
  for (RegistrarValue& v : key.values) substitute(v.data, pattern, replacement);
  for (RegistrarKey& sub : key.subkeys) substituteKey(sub, pattern, replacement);
}

LSTATUS setString(HKEY key, const wchar_t* name, const std::wstring& data) {
  const auto bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), bytes);
}

LSTATUS writeKey(HKEY parent, const RegistrarKey& key) {
  if (key.removal == KeyRemoval::kForceRemove) {
    const LSTATUS gone = RegDeleteTreeW(parent, key.name.c_str());
    if (gone != ERROR_SUCCESS && gone != ERROR_FILE_NOT_FOUND) return gone;
  }
  HKEY handle = nullptr;
  LSTATUS status = RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE,
                                   nullptr, &handle, nullptr);
  if (status != ERROR_SUCCESS) return status;
  if (key.defaultValue) status = setString(handle, nullptr, *key.defaultValue);
  for (const RegistrarValue& v : key.values)
    if (status == ERROR_SUCCESS) status = setString(handle, v.name.c_str(), v.data);
  for (const RegistrarKey& sub : key.subkeys)
    if (status == ERROR_SUCCESS) status = writeKey(handle, sub);
  RegCloseKey(handle);
  return status;
}

void removeKey(HKEY parent, const RegistrarKey& key) {
  if (key.removal == KeyRemoval::kForceRemove) {
    RegDeleteTreeW(parent, key.name.c_str());
    return;
  }
  HKEY handle = nullptr;
  if (RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_READ | KEY_WRITE, &handle) != ERROR_SUCCESS)
    return;
  for (const RegistrarKey& sub : key.subkeys) removeKey(handle, sub);
  DWORD subkeys = 0;
  const LSTATUS counted = RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subkeys, nullptr,
                                           nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(handle);
  // A key that other software has put subkeys into is left to it.
  if (key.removal == KeyRemoval::kPlain && counted == ERROR_SUCCESS && subkeys == 0)
    RegDeleteKeyW(parent, key.name.c_str());
}

}  // namespace

std::optional<RegistrarScript> parseRegistrarScript(std::wstring_view text, std::string* error) {
  return Parser(text, error).script();
}

void substituteRegistrarVariable(RegistrarScript& script, std::wstring_view name,
                                 std::wstring_view replacement) {
  const std::wstring pattern = L"%" + std::wstring(name) + L"%";
  for (RegistrarKey& root : script.roots) substituteKey(root, pattern, replacement);
}

HRESULT registerScript(const RegistrarScript& script, HKEY classesRoot) {
  for (const RegistrarKey& root : script.roots)
    for (const RegistrarKey& key : root.subkeys) {
      const LSTATUS status = writeKey(classesRoot, key);
      if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(status));
    }
  return S_OK;
}

HRESULT unregisterScript(const RegistrarScript& script, HKEY classesRoot) {
  for (const RegistrarKey& root : script.roots)
    for (const RegistrarKey& key : root.subkeys) removeKey(classesRoot, key);
  return S_OK;
}

}  // namespace ruzazuv::com
