#include "platform/utf.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Utf, RoundTripsBmpAndSupplementaryCharacters) {
  const std::u16string text = u"Tom \u00e9\u20ac \U0001F600 end";
  EXPECT_EQ(from_utf8(to_utf8(text)), text);
  EXPECT_EQ(to_utf8(u"\u00e9"), "\xC3\xA9");
}

TEST(Utf, ReplacesBrokenInputInsteadOfFailing) {
  EXPECT_EQ(from_utf8("a\xFF" "b"), u"a\uFFFD" "b");
  EXPECT_EQ(from_utf8("\xE2\x82"), u"\uFFFD\uFFFD");                 // cut sequence
  EXPECT_EQ(from_utf8("\xC0\x80"), u"\uFFFD\uFFFD");                 // overlong NUL
  EXPECT_EQ(to_utf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");  // lone surrogate
}

}  // namespace
}  // namespace platform
