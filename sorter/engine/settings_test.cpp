#include "sorter/engine/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>

#include "platform/utf.h"
#include "tests/support/temp_dir.h"

namespace sorter {
namespace {

using testsupport::u16;

std::string utf8(std::u16string_view s) { return platform::to_utf8(s); }

TEST(TextToBoolean, WordsInAnyCaseAndNumbers) {
  const std::pair<std::u16string_view, std::optional<bool>> rows[] = {
      {u"True", true},  {u"tRUE", true},  {u"FALSE", false},       {u"1", true},
      {u"-1", true},    {u"0", false},    {u"0.0", false},         {u"-2.5", true},
      {u"yes", std::nullopt}, {u"", std::nullopt}, {u"Truth", std::nullopt},
  };
  for (const auto& [text, value] : rows) EXPECT_EQ(text_to_boolean(text), value) << utf8(text);
}

class IniTest : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  std::u16string file = u16(dir / "Sorter.ini");
};

// What is written reads back, in the code page's bytes, with every other line kept in its
// order; names are matched without regard to case; a missing file, section or key gives the
// default; a long value comes back cut to 499 characters.
TEST_F(IniTest, ValuesReadBackAsWrittenInTheCodePage) {
  EXPECT_EQ(ReadINI(file, u"Persistance", u"running", u"False"), u"False");
  EXPECT_EQ(ReadINI(file, u"Persistance", u"running", u""), u"");
  EXPECT_TRUE(WriteINI(file, u"A", u"one", u"1"));
  EXPECT_TRUE(WriteINI(file, u"B", u"two", u"2"));
  EXPECT_TRUE(WriteINI(file, u"A", u"three", u"3"));
  EXPECT_TRUE(WriteINI(file, u"a", u"ONE", u"Zo\u00EB \u20AC"));
  const auto bytes = testsupport::read_bytes(dir / "Sorter.ini");
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find("one=Zo\xEB \x80\r\n"), std::string::npos) << text;
#ifndef _WIN32
  EXPECT_EQ(text, "[A]\r\none=Zo\xEB \x80\r\nthree=3\r\n[B]\r\ntwo=2\r\n");
#endif
  EXPECT_EQ(ReadINI(file, u"A", u"One", u""), u"Zo\u00EB \u20AC");
  EXPECT_EQ(ReadINI(file, u"A", u"three", u""), u"3");
  EXPECT_EQ(ReadINI(file, u"b", u"two", u""), u"2");
  EXPECT_EQ(ReadINI(file, u"A", u"other", u"dflt"), u"dflt");
  EXPECT_EQ(ReadINI(file, u"Monitoring", u"one", u"dflt"), u"dflt");
  const std::u16string value(700, u'x');
  WriteINI(file, u"Monitoring", u"value", value);
  EXPECT_EQ(ReadINI(file, u"Monitoring", u"value", u""), value.substr(0, 499));
}

TEST_F(IniTest, WriteIntoMissingFolderIsLostSilently) {
  const std::u16string lost = u16(dir / "nowhere" / "Client.ini");
  EXPECT_TRUE(WriteINI(lost, u"Errors", u"Status", u"1"));
  EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
}

TEST_F(IniTest, BooleanSettingFailsToFalse) {
  EXPECT_FALSE(read_boolean_setting(file, u"Persistance", u"running"));
  WriteINI(file, u"Persistance", u"running", u"maybe");
  EXPECT_FALSE(read_boolean_setting(file, u"Persistance", u"running"));
  WriteINI(file, u"Persistance", u"running", u"TRUE");
  EXPECT_TRUE(read_boolean_setting(file, u"Persistance", u"running"));
}

}  // namespace
}  // namespace sorter
