#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace tvs {
namespace {

struct ConversionCase {
  const char* label;
  std::string utf8;
  std::string cp1252;
};

// Each case converts both ways: UTF-8 to Windows-1252 and back.
TEST(CodepageTest, ConvertsBothWays) {
  const ConversionCase cases[] = {
      {"plain ASCII", "ABC xyz 019 ~", "ABC xyz 019 ~"},
      {"euro sign", "\xE2\x82\xAC", "\x80"},
      {"Spanish word", "\xC3\x91" "and\xC3\xBA", "\xD1" "and\xFA"},  // Ñandú
      {"letters of the 0x80 row", "\xC5\xA0\xC5\x93\xC5\xB8", "\x8A\x9C\x9F"},  // Š œ Ÿ
      {"quotes and dash", "\xE2\x80\x9Cx\xE2\x80\x9D \xE2\x80\x94", "\x93x\x94 \x97"},
      {"Latin-1 range", "\xC2\xA0\xC2\xBF\xC3\xBF", "\xA0\xBF\xFF"},  // nbsp ¿ ÿ
      {"undefined byte 0x81", "\xC2\x81", "\x81"},
      {"undefined byte 0x9D", "\xC2\x9D", "\x9D"},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToWindows1252(c.utf8), c.cp1252) << c.label;
    EXPECT_EQ(FromWindows1252(c.cp1252), c.utf8) << c.label;
  }
}

struct OneWayCase {
  const char* label;
  std::string utf8;
  std::string expected;
};

TEST(CodepageTest, CharactersOutsideTheCodePageAndBadBytesBecomeQuestionMarks) {
  const OneWayCase cases[] = {
      {"Greek omega", "\xCE\xA9", "?"},
      {"omega between letters", "a\xCE\xA9" "b", "a?b"},
      {"Polish L with stroke", "\xC5\x81" "odz", "?odz"},
      {"four-byte emoji", "\xF0\x9F\x98\x80!", "?!"},
      {"C1 control the code page lacks", "\xC2\x80", "?"},  // U+0080 is not 0x80 (that is €)
      {"stray continuation byte", "a\x80" "b", "a?b"},
      {"lone lead byte at the end", "a\xC3", "a?"},
      {"lead byte before ASCII", "\xC3" "A", "?A"},
      {"overlong slash", "\xC0\xAF", "??"},
      {"surrogate half", "\xED\xA0\x80", "???"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", "????"},
      {"byte 0xFF", "\xFF", "?"},
      {"truncated three-byte sequence", "\xE2\x82", "??"},
  };
  for (const auto& c : cases) EXPECT_EQ(ToWindows1252(c.utf8), c.expected) << c.label;
}

TEST(CodepageTest, EveryByteRoundTripsThroughUtf8) {
  for (int b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    const std::string utf8 = FromWindows1252(byte);
    EXPECT_EQ(ToWindows1252(utf8), byte) << "byte " << b;
    if (b >= 0x80) {
      EXPECT_GE(utf8.size(), 2u) << "byte " << b << " must not stay a bare high byte";
    }
  }
}

TEST(CodepageTest, UndefinedBytesMapToTheC1ControlsOfTheSameNumber) {
  for (const unsigned char b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
    const std::string expected = {static_cast<char>(0xC2), static_cast<char>(b)};
    EXPECT_EQ(FromWindows1252(std::string(1, static_cast<char>(b))), expected) << "byte " << int{b};
  }
}

struct CaseFoldCase {
  const char* label;
  char lower;
  char upper;
};

TEST(CodepageTest, UpperCaseCoversTheAccentedLetters) {
  const CaseFoldCase cases[] = {
      {"a", 'a', 'A'},           {"z", 'z', 'Z'},           {"n tilde", '\xF1', '\xD1'},
      {"a acute", '\xE1', '\xC1'}, {"u diaeresis", '\xFC', '\xDC'}, {"s caron", '\x9A', '\x8A'},
      {"oe", '\x9C', '\x8C'},    {"z caron", '\x9E', '\x8E'}, {"y diaeresis", '\xFF', '\x9F'},
      {"thorn", '\xFE', '\xDE'},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UpperWindows1252(c.lower), c.upper) << c.label;
    EXPECT_EQ(UpperWindows1252(c.upper), c.upper) << c.label << " (already upper)";
    EXPECT_TRUE(EqualsIgnoreCaseWindows1252(std::string(1, c.lower), std::string(1, c.upper))) << c.label;
  }
  // Not letters with a case of their own in the code page.
  for (const char c : {'1', '-', '\xF7' /* ÷ */, '\xDF' /* ß */, '\xB5' /* µ */, '\xAA' /* ª */, '\x80'}) {
    EXPECT_EQ(UpperWindows1252(c), c) << "byte " << int{static_cast<unsigned char>(c)};
  }
}

TEST(CodepageTest, FoldsAndComparesWholeTexts) {
  EXPECT_EQ(FoldWindows1252("\xD1" "and\xFA y \x9A" "a"), "\xD1" "AND\xDA Y \x8A" "A");  // Ñandú y ša
  EXPECT_TRUE(EqualsIgnoreCaseWindows1252("espa\xF1" "a", "ESPA\xD1" "A"));
  EXPECT_TRUE(EqualsIgnoreCaseWindows1252("\xC1rbol", "\xE1RBOL"));
  EXPECT_FALSE(EqualsIgnoreCaseWindows1252("espa\xF1" "a", "ESPANA"));  // ñ is not n
  EXPECT_FALSE(EqualsIgnoreCaseWindows1252("abc", "abcd"));
  EXPECT_TRUE(EqualsIgnoreCaseWindows1252("", ""));
}

TEST(CodepageTest, UpperAsciiOnlyLeavesAccentedLettersAlone) {
  EXPECT_EQ(UpperAsciiOnly("\xE1" "rbol \xF1u"), "\xE1" "RBOL \xF1U");
  EXPECT_EQ(UpperAsciiOnly("\x9A\xFF" "z"), "\x9A\xFF" "Z");
}

}  // namespace
}  // namespace tvs
