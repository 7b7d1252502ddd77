// Conversion between the interface's wide (UTF-16) text and the narrow text that PC/SC, card
// records and dialogs use. On Linux the narrow code page is UTF-8; any iconv code page (CP950
// for the Traditional Chinese systems the control ships to) can be chosen for tests. On Windows
// it is the system's ANSI code page (CP_ACP), converted with WideCharToMultiByte and
// MultiByteToWideChar; any installed code page can be chosen by name or number.
#pragma once

#include <string>
#include <string_view>

namespace ruzazuv {

#ifdef _WIN32
// The system's ANSI code page.
inline constexpr const char* kSystemCodePage = "ACP";
#else
inline constexpr const char* kSystemCodePage = "UTF-8";
#endif

class TextCodec {
 public:
  // "UTF-8" (converted by utf16ToUtf8 and utf8ToUtf16) or any iconv encoding name such as
  // "CP950". On Windows: "ACP" (the default), "UTF-8", or a code page as "CP950", "950" or
  // "windows-1252"; a name that is no installed code page converts everything to empty text.
  explicit TextCodec(std::string codePage = kSystemCodePage);

  const std::string& codePage() const { return codePage_; }

  // Characters that the code page cannot represent become '?'; invalid input becomes U+FFFD
  // (wide) or '?' (narrow). Neither direction ever fails.
  std::string toNarrow(std::u16string_view wide) const;
  std::u16string toWide(std::string_view narrow) const;

 private:
  std::string codePage_;
  bool utf8_;
#ifdef _WIN32
  unsigned int windowsCodePage_ = 0;  // CP_ACP unless named; meaningless while utf8_
  bool valid_ = true;
#endif
};

// UTF-8 <-> UTF-16 without iconv; lone surrogates and malformed sequences become U+FFFD.
std::string utf16ToUtf8(std::u16string_view wide);
std::u16string utf8ToUtf16(std::string_view narrow);

}  // namespace ruzazuv
