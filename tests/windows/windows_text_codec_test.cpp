// TextCodec on WideCharToMultiByte/MultiByteToWideChar: code page 950 byte for byte against an
// independent encoder's output, the ways a code page is named, and one mark for each character
// the code page cannot carry or the input gets wrong.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "platform/text_codec.h"

namespace ruzazuv {
namespace {

std::string fromHex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

struct Cp950Text {
  std::u16string wide;
  const char* narrowHex;  // as Python's cp950 codec encodes it
};

class Cp950RoundTrip : public ::testing::TestWithParam<Cp950Text> {};

TEST_P(Cp950RoundTrip, EncodesAsTheCodePageDefinesAndDecodesBack) {
  const TextCodec cp950("CP950");
  const std::string narrow = fromHex(GetParam().narrowHex);
  EXPECT_EQ(cp950.toNarrow(GetParam().wide), narrow);
  EXPECT_EQ(cp950.toWide(narrow), GetParam().wide);
}

// The dialogs' own texts: a font name, a title, the amount label with its ideographic spaces,
// the OK caption with an ASCII space, a reader name, the countdown text.
INSTANTIATE_TEST_SUITE_P(
    DialogTexts, Cp950RoundTrip,
    ::testing::Values(Cp950Text{u"新細明體", "B773B2D3A9FAC5E9"},
                      Cp950Text{u"交易內容確認", "A5E6A9F6A4BAAE65BD54BB7B"},
                      Cp950Text{u"金\u3000\u3000額", "AAF7A140A140C342"},
                      Cp950Text{u"確 定", "BD5420A977"}, Cp950Text{u"讀卡機 1", "C5AAA564BEF72031"},
                      Cp950Text{u"請於倒數15秒內將晶片卡拔出，再插入讀卡機，以完成交易",
                                "BDD0A9F3ADCBBCC63135ACEDA4BAB14EB4B9A4F9A564A9DEA558A141A641B4"
                                "A1A44AC5AAA564BEF7A141A548A7B9A6A8A5E6A9F6"},
                      Cp950Text{u"", ""}));

TEST(WindowsTextCodec, CodePagesAreNamedByNameOrNumber) {
  const std::u16string text = u"轉出帳號";
  const std::string expected = TextCodec("CP950").toNarrow(text);
  for (const char* name : {"cp950", "950", "windows-950", "CP950"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(TextCodec(name).toNarrow(text), expected);
  }
  // The default is the system's ANSI code page.
  const TextCodec system;
  EXPECT_EQ(system.codePage(), "ACP");
  const std::string acpName = "CP" + std::to_string(GetACP());
  EXPECT_EQ(system.toNarrow(u"abc\u00E9"), TextCodec(acpName).toNarrow(u"abc\u00E9"));
  // UTF-8 by name is UTF-8 whatever the system's page.
  EXPECT_EQ(TextCodec("UTF-8").toNarrow(u"\u00E9"), "\xC3\xA9");
  EXPECT_EQ(TextCodec("utf-8").toWide("\xE8\xBD\x89"), u"轉");
}

TEST(WindowsTextCodec, AnUnknownCodePageConvertsToEmptyTextRatherThanGuessing) {
  for (const char* name : {"CP99999", "nonsense", "CP", "950x", "-950"}) {
    SCOPED_TRACE(name);
    const TextCodec codec(name);
    EXPECT_EQ(codec.toNarrow(u"abc"), "");
    EXPECT_EQ(codec.toWide("abc"), u"");
  }
}

struct Unconvertible {
  const char* what;
  std::u16string wide;
  std::string narrow;
};

TEST(WindowsTextCodec, EachCharacterTheCodePageLacksBecomesOneMark) {
  const TextCodec cp950("CP950");
  const std::vector<Unconvertible> cases = {
      {"a character beyond the BMP", u"\U0001F4B3", "?"},
      {"two of them among convertible text", u"A\U0001F4B3轉\U0001F4B3", "A?\xC2\xE0?"},
      {"a lone high surrogate", std::u16string(1, static_cast<char16_t>(0xD800)) + u"A", "?A"},
      {"a lone low surrogate", u"A" + std::u16string(1, static_cast<char16_t>(0xDC00)), "A?"},
      // No best-fit substitution: an accented letter is not turned into its base letter.
      {"a letter the code page lacks", u"caf\u00E9", "caf?"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(cp950.toNarrow(c.wide), c.narrow);
  }
}

TEST(WindowsTextCodec, BytesTheCodePageDoesNotDefineBecomeOneReplacementEach) {
  const TextCodec cp950("CP950");
  const std::vector<Unconvertible> cases = {
      {"an undefined single byte", u"A\uFFFD", "A\xFF"},
      {"a lead byte at the end", u"A\uFFFD", "A\xA4"},
      {"a lead byte before a byte that cannot trail", u"\uFFFD A", "\xA4 A"},
      {"valid text around a bad byte", u"轉\uFFFD轉", "\xC2\xE0\xFF\xC2\xE0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(cp950.toWide(c.narrow), c.wide);
  }
}

}  // namespace
}  // namespace ruzazuv
