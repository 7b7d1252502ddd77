// Wide/narrow conversion: UTF-8 by default, iconv code pages such as CP950 on request.
#include <gtest/gtest.h>

#include "platform/text_codec.h"
#include "support/control_harness.h"

namespace ruzazuv {
namespace {

TEST(TextCodec, Utf8RoundTripsEveryPlaneAndReplacesWhatIsMalformed) {
  const std::u16string text = u"RuzaZUV 轉出帳號 \U0001F4B3 é";
  EXPECT_EQ(utf8ToUtf16(utf16ToUtf8(text)), text);
  EXPECT_EQ(utf16ToUtf8(u"\u00E9"), "\xC3\xA9");
  // A lone surrogate on the wide side, and broken, overlong or out-of-range sequences on the
  // narrow side, become U+FFFD rather than failing or reading on.
  EXPECT_EQ(utf16ToUtf8(std::u16string(1, static_cast<char16_t>(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(utf8ToUtf16("a\xC3"), u"a\uFFFD");                              // cut short at the end
  EXPECT_EQ(utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");                      // overlong '/'
  EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");            // encoded surrogate
  EXPECT_EQ(utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // beyond U+10FFFF
  EXPECT_EQ(utf8ToUtf16("\xE8\xBD"), u"\uFFFD\uFFFD");
}

TEST(TextCodec, Cp950IsTheTargetSystemsCodePage) {
  TextCodec cp950("CP950");
  const std::string narrow = cp950.toNarrow(u"新細明體");
  EXPECT_EQ(narrow.size(), 8u);  // two bytes a character
  EXPECT_EQ(cp950.toWide(narrow), u"新細明體");
  EXPECT_EQ(cp950.toNarrow(u"\U0001F4B3"), "?");  // not in the code page
  EXPECT_EQ(cp950.toWide("A\xFF"), u"A\uFFFD");
}

TEST(TextCodec, ReaderNamesCrossInTheChosenCodePage) {
  // The reader list arrives in the code page and is stored as wide text.
  testing::ControlHarness h;
  TextCodec cp950("CP950");
  const std::string narrowName = cp950.toNarrow(u"讀卡機 1");
  h.pcsc.addReader(narrowName);
  ControlServices services{h.pcsc, h.control().services().clock, h.control().services().timer,
                           cp950, nullptr};
  CardControl control(services, h.process);
  ASSERT_EQ(control.call(Dispid::ConnectReader), 0);
  ASSERT_EQ(control.call(Dispid::ListReaders), 0);
  EXPECT_EQ(control.getText(Dispid::caReader2), u"讀卡機 1");
  control.putText(Dispid::baReaderName, u"讀卡機 1");
  EXPECT_EQ(control.call(Dispid::GetCardStatus), 0);  // the narrow name found the reader
}

}  // namespace
}  // namespace ruzazuv
