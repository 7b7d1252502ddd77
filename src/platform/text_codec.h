// Conversion between the interface's wide (UTF-16) text and the narrow text that PC/SC, card
// records and dialogs use. On Linux the narrow code page is UTF-8; any iconv code page (CP950
// for the Traditional Chinese systems the control ships to) can be chosen for tests.
#pragma once

#include <string>
#include <string_view>

namespace ruzazuv {

class TextCodec {
 public:
  // "UTF-8" (the default, converted without iconv) or any iconv encoding name such as "CP950".
  explicit TextCodec(std::string codePage = "UTF-8");

  const std::string& codePage() const { return codePage_; }

  // Characters that the code page cannot represent become '?'; invalid input becomes U+FFFD
  // (wide) or '?' (narrow). Neither direction ever fails.
  std::string toNarrow(std::u16string_view wide) const;
  std::u16string toWide(std::string_view narrow) const;

 private:
  std::string codePage_;
  bool utf8_;
};

// UTF-8 <-> UTF-16 without iconv; lone surrogates and malformed sequences become U+FFFD.
std::string utf16ToUtf8(std::u16string_view wide);
std::u16string utf8ToUtf16(std::string_view narrow);

}  // namespace ruzazuv
