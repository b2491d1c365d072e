#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace platform {
namespace {

// These expectations hold for Windows-1252, the code page of the test machines (Wine's
// default ANSI code page is 1252 as well).

TEST(CodePage, AsciiAndLatin1PassUnchanged) {
  EXPECT_EQ(to_ansi(u"Hello, Tom"), "Hello, Tom");
  EXPECT_EQ(to_ansi(u"caf\u00e9 \u00fc\u00df"), "caf\xE9 \xFC\xDF");
  EXPECT_EQ(from_ansi("caf\xE9"), u"caf\u00e9");
}

// Bytes 0x80..0x9F as the system's table has them; the five unassigned bytes stand for the
// control characters of the same value.
TEST(CodePage, MapsTheWindowsOnlyRangeBothWays) {
  const char16_t table[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
  };
  for (int b = 0x80; b < 0xA0; ++b) {
    const std::string byte(1, static_cast<char>(b));
    EXPECT_EQ(from_ansi(byte), std::u16string(1, table[b - 0x80])) << std::hex << b;
    EXPECT_EQ(to_ansi(std::u16string(1, table[b - 0x80])), byte) << std::hex << b;
  }
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
  // Some of the system's own choices, which a transliteration would not make.
  const std::pair<char16_t, char> fits[] = {
      {0x0110, '\xD0'}, {0x0138, '?'}, {0x013F, '?'}, {0x014A, '?'},    {0x0191, '\x83'},
      {0x01C3, '!'},    {0x03B2, '\xDF'}, {0x03C0, 'p'}, {0x2012, '?'}, {0x2017, '='},
      {0x2024, '\xB7'}, {0x2033, '?'}, {0x2212, '-'}, {0x221E, '8'},    {0x2248, '\x98'},
      {0x2554, '+'},    {0x2588, '\xA6'}, {0x3000, ' '}, {0xFF1F, '?'}, {0xFF21, 'A'},
      {0x0142, 'l'},    {0x0107, 'c'},    {0x2010, '-'}, {0x0401, '?'}, {0x20A7, 'P'},
  };
  for (const auto& [c, byte] : fits) {
    EXPECT_EQ(to_ansi(std::u16string(1, c)), std::string(1, byte)) << std::hex << int{c};
  }
}

#ifndef _WIN32
// Every spelling of Windows-1252 gives its own table (the unassigned bytes, the best fits, not
// the system converter's ISO-8859-1 or its CP1252 without them); another code page goes
// through the system's converter; a name it does not know leaves Windows-1252 in force.
TEST(CodePage, TheConfiguredCodePage) {
  struct Row {
    const char* setting;  // CORVANE_CODEPAGE, unset for none
    std::string name;
    std::string bytes;    // ...
    std::u16string text;  // ... and their text, both ways
    std::u16string lacking;
    std::string written;  // what the code page writes for lacking
  };
  std::vector<Row> rows = {
      {"ISO-8859-1", "ISO-8859-1", "\x80\x9F\xE9", u"\u0080\u009F\u00E9", u"\u20AC\u4E2D", "EUR?"},
      {"CP1250", "CP1250", "\xB3\x8A\xE9", u"\u0142\u0160\u00E9", u"\u4E2D", "?"},
  };
  const std::pair<const char*, const char*> spellings[] = {
      {nullptr, "windows-1252"}, {"", "windows-1252"}, {"cp1252", "cp1252"},
      {"Windows-1252", "Windows-1252"}, {"1252", "1252"}, {"no-such-code-page", "windows-1252"}};
  for (const auto& [setting, name] : spellings) {
    rows.push_back({setting, name, "\x80\x81\x8D\x8F\x90\x9D\x9F\xE9",
                    u"\u20AC\u0081\u008D\u008F\u0090\u009D\u0178\u00E9", u"\u0142\u4E2D", "l?"});
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.setting ? row.setting : "not set");
    row.setting ? ::setenv("CORVANE_CODEPAGE", row.setting, 1) : ::unsetenv("CORVANE_CODEPAGE");
    EXPECT_EQ(ansi_code_page_name(), row.name);
    EXPECT_EQ(from_ansi(row.bytes), row.text);
    EXPECT_EQ(to_ansi(row.text), row.bytes);
    EXPECT_EQ(to_ansi(row.lacking), row.written);
  }
  ::unsetenv("CORVANE_CODEPAGE");  // the other tests' Windows-1252
}
#endif

TEST(CodePage, CountsBytesNotCharacters) {
  const std::string bytes = to_ansi(std::u16string(255, u'\u00e9'));
  EXPECT_EQ(bytes.size(), 255u);
}

}  // namespace
}  // namespace platform
