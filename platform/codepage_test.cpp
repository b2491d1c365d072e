#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

// These expectations hold for Windows-1252, the code page of the test machines (Wine's
// default ANSI code page is 1252 as well).

TEST(CodePage, AsciiAndLatin1PassUnchanged) {
  EXPECT_EQ(to_ansi(u"Hello, Tom"), "Hello, Tom");
  EXPECT_EQ(to_ansi(u"caf\u00e9 \u00fc\u00df"), "caf\xE9 \xFC\xDF");
  EXPECT_EQ(from_ansi("caf\xE9"), u"caf\u00e9");
}

TEST(CodePage, MapsTheWindowsOnlyRangeBothWays) {
  EXPECT_EQ(to_ansi(u"\u20ac\u201c\u201d\u2026\u0160"), "\x80\x93\x94\x85\x8A");
  EXPECT_EQ(from_ansi("\x80\x93\x94"), u"\u20ac\u201c\u201d");
}

TEST(CodePage, EveryByteSurvivesARoundTrip) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(to_ansi(from_ansi(all)), all);
}

TEST(CodePage, ReplacesMissingCharactersWithSimilarOnesOrQuestionMark) {
  // Latin letters with diacritics the code page lacks become their base letter.
  EXPECT_EQ(to_ansi(u"\u0141\u00f3d\u017a"), "L\xF3" "dz");
  EXPECT_EQ(to_ansi(u"\u0101\u0151"), "ao");
  // Characters without a similar one become '?', one byte each.
  EXPECT_EQ(to_ansi(u"\u4e2d\u6587"), "??");
}

TEST(CodePage, CountsBytesNotCharacters) {
  const std::string bytes = to_ansi(std::u16string(255, u'\u00e9'));
  EXPECT_EQ(bytes.size(), 255u);
}

}  // namespace
}  // namespace platform
