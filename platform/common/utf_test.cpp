#include "platform/utf.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Utf, RoundTripsBmpAndSupplementaryCharacters) {
  const std::u16string text = u"Tom \u00e9\u20ac \U0001F600 end";
  EXPECT_EQ(from_utf8(to_utf8(text)), text);
  EXPECT_EQ(to_utf8(u"\u00e9"), "\xC3\xA9");
}

// File names on POSIX are bytes: whatever is not UTF-8 must come back unchanged.
TEST(Utf, KeepsBytesThatAreNotUtf8AcrossTheRoundTrip) {
  EXPECT_EQ(from_utf8("a\xFF" "b"), u"a\xDCFF" "b");
  EXPECT_EQ(from_utf8("\xE2\x82"), u"\xDCE2\xDC82");                 // cut sequence
  EXPECT_EQ(from_utf8("\xC0\x80"), u"\xDCC0\xDC80");                 // overlong NUL
  for (const std::string bytes : {"caf\xE9.eml", "\xE2\x82", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                                  "ok \xC3\xA9 \xFF\xFE"}) {
    EXPECT_EQ(to_utf8(from_utf8(bytes)), bytes);
  }
  EXPECT_EQ(to_utf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");  // lone surrogate
  EXPECT_EQ(to_utf8(std::u16string(1, char16_t(0xDC7F))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace platform
