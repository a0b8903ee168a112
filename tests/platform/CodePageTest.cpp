// The product name's trip between the window's UTF-8 and the system's 8-bit code page. On Linux
// the code page is Windows-1252 by table; under Wine the same cases go through the system's
// conversions, so the table is checked against what a Western Windows station writes.
#include <gtest/gtest.h>

#include "platform/CodePage.h"

namespace korvel {
namespace {

// "USB 2.4G®" as the window holds it.
const std::string kRegisteredUtf8 = "USB 2.4G\xC2\xAE";

bool Western() {
  return SystemCodePage() == 1252;
}

TEST(CodePage, Windows1252TableHoldsTheSpecialsAndLatin1) {
  const struct {
    uint8_t byte;
    char32_t character;
  } specials[] = {{0x80, 0x20AC}, {0x82, 0x201A}, {0x83, 0x0192}, {0x85, 0x2026},
                  {0x8A, 0x0160}, {0x8C, 0x0152}, {0x8E, 0x017D}, {0x91, 0x2018},
                  {0x94, 0x201D}, {0x96, 0x2013}, {0x97, 0x2014}, {0x98, 0x02DC},
                  {0x99, 0x2122}, {0x9C, 0x0153}, {0x9E, 0x017E}, {0x9F, 0x0178}};
  for (const auto& s : specials) {
    EXPECT_EQ(Windows1252ToUnicode(s.byte), s.character) << int(s.byte);
    EXPECT_EQ(UnicodeToWindows1252(s.character), s.byte) << int(s.byte);
  }
  for (int b = 0; b < 0x100; ++b) {
    if (b >= 0x80 && b < 0xA0) continue;
    EXPECT_EQ(Windows1252ToUnicode(uint8_t(b)), char32_t(b)) << b;
    EXPECT_EQ(UnicodeToWindows1252(char32_t(b)), b) << b;
  }
  // The five unused positions read as Windows reads them, and no character is given to them.
  for (uint8_t b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
    EXPECT_EQ(Windows1252ToUnicode(b), char32_t(b)) << int(b);
    EXPECT_FALSE(UnicodeToWindows1252(char32_t(b))) << int(b);
  }
  for (char32_t c : {char32_t(0x80), char32_t(0x9F), char32_t(0x100), char32_t(0x4E2D)})
    EXPECT_FALSE(UnicodeToWindows1252(c)) << CodePointText(c);
}

TEST(CodePage, WesternNamesBecomeOneByteACharacterAndComeBack) {
  if (!Western()) GTEST_SKIP() << "code page " << SystemCodePage();
  const CodePageText registered = ToCodePage(kRegisteredUtf8);
  ASSERT_TRUE(registered.Ok());
  EXPECT_EQ(registered.bytes, "USB 2.4G\xAE");
  EXPECT_EQ(FromCodePage("USB 2.4G\xAE"), kRegisteredUtf8);
  // € … Ÿ from 0x80 to 0x9F, é from Latin-1.
  EXPECT_EQ(ToCodePage("\xE2\x82\xAC\xE2\x80\xA6\xC5\xB8\xC3\xA9").bytes, "\x80\x85\x9F\xE9");
  EXPECT_EQ(FromCodePage("\x80\x99\xFF"), "\xE2\x82\xAC\xE2\x84\xA2\xC3\xBF");
  EXPECT_EQ(ToCodePage("").bytes, "");
  // Every byte of the code page reads as a character that writes back as that byte, but for
  // the unused positions, which are refused rather than written as something else.
  for (int b = 1; b < 0x100; ++b) {
    const std::string byte(1, char(b));
    const std::string text = FromCodePage(byte);
    const CodePageText back = ToCodePage(text);
    if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) {
      EXPECT_EQ(back.fault, CodePageFault::NotInCodePage) << b;
      EXPECT_EQ(back.character, char32_t(b)) << b;
    } else {
      EXPECT_EQ(back.bytes, byte) << b;
    }
  }
}

TEST(CodePage, CharactersThatAreNotOneByteAndTextThatIsNotUtf8AreRefused) {
  if (!Western()) GTEST_SKIP() << "code page " << SystemCodePage();
  const CodePageText chinese = ToCodePage("USB \xE4\xB8\xAD");  // 中
  EXPECT_EQ(chinese.fault, CodePageFault::NotInCodePage);
  EXPECT_EQ(chinese.character, char32_t(0x4E2D));
  EXPECT_EQ(chinese.bytes, "");
  // Not a look-alike either: ā (U+0101) is no "a", 😀 is no "?".
  for (const auto& [text, c] : {std::pair<std::string, char32_t>{"a\xC4\x81", 0x101},
                                {"\xF0\x9F\x98\x80", 0x1F600},
                                {"\xC2\x81", 0x81}}) {
    const CodePageText r = ToCodePage(text);
    EXPECT_EQ(r.fault, CodePageFault::NotInCodePage) << CodePointText(c);
    EXPECT_EQ(r.character, c) << CodePointText(c);
  }
  for (const std::string bad : {"\xC3", "abc\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                                "\xF4\x90\x80\x80", "\xFF", "\xC3\x28"})
    EXPECT_EQ(ToCodePage(bad).fault, CodePageFault::NotUtf8) << testing::PrintToString(bad);
}

TEST(CodePage, DoubleByteCodePagesRefuseTheirTwoByteCharacters) {
  const unsigned cp = SystemCodePage();
  if (cp != 932 && cp != 936 && cp != 949 && cp != 950) GTEST_SKIP() << "code page " << cp;
  const CodePageText r = ToCodePage("Mouse \xE4\xB8\xAD");  // 中 is in all four, in two bytes
  EXPECT_EQ(r.fault, CodePageFault::MultiByte);
  EXPECT_EQ(r.character, char32_t(0x4E2D));
  EXPECT_EQ(ToCodePage("Mouse 2.4G").bytes, "Mouse 2.4G");
}

TEST(CodePage, Utf8DecodesByCharacters) {
  const auto chars = DecodeUtf8("a\xC2\xAE\xE4\xB8\xAD\xF0\x9F\x98\x80");
  ASSERT_TRUE(chars);
  EXPECT_EQ(*chars, (std::u32string{U'a', 0xAE, 0x4E2D, 0x1F600}));
  EXPECT_EQ(EncodeUtf8(*chars), "a\xC2\xAE\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(DecodeUtf8("")->size(), 0u);
  EXPECT_FALSE(DecodeUtf8("\xE4\xB8"));  // cut inside a character
  EXPECT_EQ(CodePointText(0x4E2D), "U+4E2D");
  EXPECT_EQ(CodePointText(0xAE), "U+00AE");
}

}  // namespace
}  // namespace korvel
