#include "sorter/engine/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/temp_dir.h"

namespace sorter {
namespace {

using testsupport::u16;

TEST(TextToBoolean, WordsInAnyCaseAndNumbers) {
  EXPECT_EQ(text_to_boolean(u"True"), true);
  EXPECT_EQ(text_to_boolean(u"tRUE"), true);
  EXPECT_EQ(text_to_boolean(u"FALSE"), false);
  EXPECT_EQ(text_to_boolean(u"1"), true);
  EXPECT_EQ(text_to_boolean(u"-1"), true);
  EXPECT_EQ(text_to_boolean(u"0"), false);
  EXPECT_EQ(text_to_boolean(u"0.0"), false);
  EXPECT_EQ(text_to_boolean(u"yes"), std::nullopt);
  EXPECT_EQ(text_to_boolean(u""), std::nullopt);
  EXPECT_EQ(text_to_boolean(u"Truth"), std::nullopt);
}

class IniTest : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  std::u16string file = u16(dir / "Sorter.ini");
};

TEST_F(IniTest, MissingFileSectionOrKeyGivesTheDefault) {
  EXPECT_EQ(ReadINI(file, u"Persistance", u"running", u"False"), u"False");
  EXPECT_EQ(ReadINI(file, u"Persistance", u"running", u""), u"");
  WriteINI(file, u"Persistance", u"running", u"True");
  EXPECT_EQ(ReadINI(file, u"Persistance", u"other", u"dflt"), u"dflt");
  EXPECT_EQ(ReadINI(file, u"Monitoring", u"running", u"dflt"), u"dflt");
  EXPECT_EQ(ReadINI(file, u"persistance", u"RUNNING", u"False"), u"True");
}

TEST_F(IniTest, LongValueIsCutTo499Characters) {
  const std::u16string value(700, u'x');
  WriteINI(file, u"Monitoring", u"value", value);
  EXPECT_EQ(ReadINI(file, u"Monitoring", u"value", u""), value.substr(0, 499));
}

TEST_F(IniTest, WriteKeepsOtherSectionsAndKeys) {
  WriteINI(file, u"A", u"one", u"1");
  WriteINI(file, u"B", u"two", u"2");
  WriteINI(file, u"A", u"three", u"3");
  WriteINI(file, u"A", u"one", u"uno");
  EXPECT_EQ(ReadINI(file, u"A", u"one", u""), u"uno");
  EXPECT_EQ(ReadINI(file, u"A", u"three", u""), u"3");
  EXPECT_EQ(ReadINI(file, u"B", u"two", u""), u"2");
}

TEST_F(IniTest, WriteIntoMissingFolderIsLostSilently) {
  const std::u16string lost = u16(dir / "nowhere" / "Client.ini");
  EXPECT_TRUE(WriteINI(lost, u"Errors", u"Status", u"1"));
  EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
}

TEST_F(IniTest, NonAsciiTextTravelsThroughTheCodePage) {
  WriteINI(file, u"Names", u"user", u"Zo\u00EB");
  EXPECT_EQ(ReadINI(file, u"Names", u"user", u""), u"Zo\u00EB");
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
