// TextCodec on Windows: WideCharToMultiByte and MultiByteToWideChar in the chosen code page.
// Whole strings are converted in one call; only a string that holds something the code page
// cannot carry is converted again piece by piece, so that each such character gets exactly one
// replacement mark, as on Linux.
#include <windows.h>

#include <cctype>
#include <charconv>
#include <utility>

#include "platform/text_codec.h"

namespace ruzazuv {
namespace {

constexpr char16_t kWideReplacement = 0xFFFD;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// "ACP" or "" is CP_ACP; "UTF-8" is CP_UTF8; otherwise digits after an optional "CP" or
// "windows-" prefix. Returns false for anything else.
bool parseCodePage(std::string_view name, UINT* codePage) {
  if (name.empty() || equalsIgnoringCase(name, "ACP")) {
    *codePage = CP_ACP;
    return true;
  }
  if (equalsIgnoringCase(name, "UTF-8") || equalsIgnoringCase(name, "UTF8")) {
    *codePage = CP_UTF8;
    return true;
  }
  for (std::string_view prefix : {std::string_view("CP"), std::string_view("windows-")}) {
    if (name.size() > prefix.size() && equalsIgnoringCase(name.substr(0, prefix.size()), prefix)) {
      name.remove_prefix(prefix.size());
      break;
    }
  }
  unsigned int number = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
  if (error != std::errc() || end != name.data() + name.size() || number == 0 || number > 65535)
    return false;
  *codePage = number;
  return true;
}

bool isHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// Code pages for which WideCharToMultiByte takes neither flags nor a default character.
bool takesNoFlags(UINT codePage) {
  return codePage == 42 || codePage == 65000 || (codePage >= 50220 && codePage <= 50229) ||
         codePage == 52936 || codePage == 54936 || (codePage >= 57002 && codePage <= 57011);
}

// Converts `wide` in one call. `lossless` tells whether every character had a form of its own.
std::string narrowOnce(UINT codePage, std::u16string_view wide, bool* lossless) {
  *lossless = true;
  if (wide.empty()) return {};
  const auto* in = reinterpret_cast<const wchar_t*>(wide.data());
  const int inLength = static_cast<int>(wide.size());
  const bool plain = takesNoFlags(codePage);
  const DWORD flags = plain ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* defaultChar = plain ? nullptr : "?";
  BOOL usedDefault = FALSE;
  BOOL* used = plain ? nullptr : &usedDefault;
  const int size =
      WideCharToMultiByte(codePage, flags, in, inLength, nullptr, 0, defaultChar, used);
  if (size <= 0) {
    *lossless = false;
    return {};
  }
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(codePage, flags, in, inLength, out.data(), size, defaultChar, used);
  if (usedDefault) *lossless = false;
  return out;
}

// Converts `narrow` in one call; with `strict`, invalid input fails the call.
bool wideOnce(UINT codePage, std::string_view narrow, std::u16string* out, bool strict = true) {
  out->clear();
  if (narrow.empty()) return true;
  const int inLength = static_cast<int>(narrow.size());
  const DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
  const int size = MultiByteToWideChar(codePage, flags, narrow.data(), inLength, nullptr, 0);
  if (size <= 0) return false;
  out->assign(static_cast<std::size_t>(size), u'\0');
  MultiByteToWideChar(codePage, flags, narrow.data(), inLength,
                      reinterpret_cast<wchar_t*>(out->data()), size);
  return true;
}

}  // namespace

TextCodec::TextCodec(std::string codePage) : codePage_(std::move(codePage)), utf8_(false) {
  UINT number = CP_ACP;
  valid_ = parseCodePage(codePage_, &number);
  if (valid_ && number == CP_ACP) number = GetACP();
  if (valid_ && number != CP_UTF8 && !IsValidCodePage(number)) valid_ = false;
  utf8_ = valid_ && number == CP_UTF8;
  windowsCodePage_ = number;
}

std::string TextCodec::toNarrow(std::u16string_view wide) const {
  if (utf8_) return utf16ToUtf8(wide);
  if (!valid_) return {};
  bool lossless = true;
  std::string whole = narrowOnce(windowsCodePage_, wide, &lossless);
  if (lossless) return whole;
  // One character (a surrogate pair counts as one) at a time; a lone surrogate or a character
  // the code page lacks becomes one '?'.
  std::string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size();) {
    std::size_t length = 1;
    if (isHighSurrogate(wide[i]) && i + 1 < wide.size() && isLowSurrogate(wide[i + 1])) length = 2;
    const bool lone = length == 1 && (isHighSurrogate(wide[i]) || isLowSurrogate(wide[i]));
    bool converted = false;
    std::string piece;
    if (!lone) piece = narrowOnce(windowsCodePage_, wide.substr(i, length), &converted);
    if (converted && !piece.empty()) {
      out += piece;
    } else {
      out.push_back('?');
    }
    i += length;
  }
  return out;
}

std::u16string TextCodec::toWide(std::string_view narrow) const {
  if (utf8_) return utf8ToUtf16(narrow);
  if (!valid_) return {};
  std::u16string out;
  CPINFO info{};
  const bool known = GetCPInfo(windowsCodePage_, &info) != 0;
  // Stateful and multi-byte encodings beyond two bytes a character cannot be cut into
  // characters here: the system's own substitution stands for them.
  if (takesNoFlags(windowsCodePage_) || !known || info.MaxCharSize > 2) {
    wideOnce(windowsCodePage_, narrow, &out, false);
    return out;
  }
  if (wideOnce(windowsCodePage_, narrow, &out)) return out;
  // One character at a time: a lead byte with its trail byte, or a single byte. What the code
  // page does not define becomes U+FFFD and conversion goes on with the next byte.
  const bool doubleByte = info.MaxCharSize == 2;
  out.clear();
  out.reserve(narrow.size());
  for (std::size_t i = 0; i < narrow.size();) {
    std::size_t length = 1;
    if (doubleByte && i + 1 < narrow.size() &&
        IsDBCSLeadByteEx(windowsCodePage_, static_cast<BYTE>(narrow[i])))
      length = 2;
    std::u16string piece;
    if (wideOnce(windowsCodePage_, narrow.substr(i, length), &piece) && !piece.empty()) {
      out += piece;
      i += length;
    } else {
      out.push_back(kWideReplacement);
      i += 1;
    }
  }
  return out;
}

}  // namespace ruzazuv
