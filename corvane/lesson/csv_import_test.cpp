#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "corvane/lesson/csv_line_reader.h"
#include "corvane/model/record_codec.h"
#include "corvane/lesson/lesson_test_support.h"
#include "tests/support/temp_dir.h"

namespace corvane {
namespace {

using lessontest::choice;
using lessontest::error_of;
using lessontest::lesson_of;
using testsupport::TempDir;
using testsupport::u16;
using testsupport::write_text;

class CsvImport : public ::testing::Test {
 protected:
  // Imports text; the lesson file is les, the result of the call is returned.
  bool import(const std::string& text) {
    write_text(csv, text);
    return f.model.ConvertCSV2Lesson(u16(csv), u16(les));
  }
  EmailLesson imported() { return f.model.OpenLesson(u16(les)); }

  TempDir dir;
  std::filesystem::path csv = dir / "lesson.csv";
  std::filesystem::path les = dir / "lesson.les";
  lessontest::Fixture f;
};

// Each CSV file and the lesson file written for it, byte for byte.
TEST_F(CsvImport, WritesTheLessonTheLinesDescribe) {
  // The reader fills 64 KiB at a time: a line whose CR is the buffer's last byte.
  const std::string first = "1,a,b,";
  const std::string filled(64 * 1024 - first.size() - 1, 'x');
  const struct {
    const char* what;
    std::string csv;
    EmailLesson lesson;
  } cases[] = {
      {"lines grouped by step number in order of first appearance",
       "2,Ann,S1,M1\r\n1,Bob,S2,M2\r\n2,Cid,S3,M3\r\n5,Dee,S4,M4\r\n",
       lesson_of({{2, {choice(u"Ann", u"S1", u"M1"), choice(u"Cid", u"S3", u"M3")}},
                  {1, {choice(u"Bob", u"S2", u"M2")}},
                  {5, {choice(u"Dee", u"S4", u"M4")}}})},
      {"step numbers round half to even", "2,a,,\r\n2.0,b,,\r\n 2,c,,\r\n2.5,d,,\r\n3.5,e,,\r\n-0.5,f,,",
       lesson_of({{2, {choice(u"a"), choice(u"b"), choice(u"c"), choice(u"d")}},
                  {4, {choice(u"e")}},
                  {0, {choice(u"f")}}})},
      // CR LF and lone CR end lines; a lone LF stays in the text; no empty last line after CR LF.
      {"line ends", "1,a,b,one\r2,a,b,two\nmore\r\n3,a,b,three\r",
       lesson_of({{1, {choice(u"a", u"b", u"one")}},
                  {2, {choice(u"a", u"b", u"two\nmore")}},
                  {3, {choice(u"a", u"b", u"three")}}})},
      {"CR LF split across read buffers", first + filled + "\r\n2,a,b,c\r\n",
       lesson_of({{1, {LessonChoice{Text(filled.begin(), filled.end()), u"b", u"a"}}},
                  {2, {choice(u"a", u"b", u"c")}}})},
      {"texts in the ANSI code page", "1,Ren\xE9,Caf\xE9,\x80 5\r\n",
       lesson_of({{1, {choice(u"Ren\u00e9", u"Caf\u00e9", u"\u20ac 5")}}})},
      {"empty file: a lesson without steps", "", EmailLesson{}},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(les);  // a record written over a longer file keeps the file's tail
    ASSERT_TRUE(import(c.csv)) << c.what;
    EXPECT_EQ(testsupport::read_bytes(les), encode_record(c.lesson)) << c.what;
  }
}

TEST_F(CsvImport, RejectedLineWritesNothingAndKeepsErrorString) {
  f.model.set_ErrorString(u"before");
  EXPECT_FALSE(import("Step,From,Subject,Message\r\n1,a,b,c\r\n"));
  EXPECT_FALSE(import("1,a,b,c\r\n\r\n"));  // an empty last line
  EXPECT_FALSE(import("1,a,b,c\r\n2,a\r\n3,a,b,c\r\n"));
  EXPECT_FALSE(std::filesystem::exists(les));
  EXPECT_EQ(f.model.ErrorString(), u"before");
}

TEST_F(CsvImport, FailuresRaiseAndWriteNothing) {
  EXPECT_EQ(error_of([&] { import("1,a,b,c\r\n40000,a,b,c\r\n"); }), platform::errnum::kOverflow);
  EXPECT_EQ(error_of([&] { import("32767.5,a,b,c\r\n"); }), platform::errnum::kOverflow);
  EXPECT_EQ(error_of([&] { f.model.ConvertCSV2Lesson(u16(dir / "none.csv"), u16(les)); }),
            platform::errnum::kFileNotFound);
  EXPECT_EQ(error_of([&] { f.model.ConvertCSV2Lesson(u16(dir / "x" / "a.csv"), u16(les)); }),
            platform::errnum::kPathNotFound);
  EXPECT_FALSE(std::filesystem::exists(les));
  EXPECT_FALSE(std::filesystem::exists(dir / "none.csv"));
  EXPECT_TRUE(import("-32768.5,a,b,c\r\n"));
  EXPECT_EQ(imported().steps.at(0).Index, -32768);
  EXPECT_TRUE(import("32767,a,b,c\r\n"));
  EXPECT_EQ(imported().steps.at(0).Index, 32767);
}

TEST_F(CsvImport, UnwritableLessonReportsThroughErrorString) {
  write_text(csv, "1,a,b,c\r\n");
  EXPECT_FALSE(f.model.ConvertCSV2Lesson(u16(csv), u16(dir / "x" / "l.les")));
  EXPECT_EQ(f.model.ErrorString(), u"Path not found\r\nCorvane.MailObjectModel\r\n76");
}

TEST_F(CsvImport, StepAndChoiceLimits) {
  std::string steps;
  for (int n = -32768; n < 0; ++n) steps += std::to_string(n) + ",,,\r";
  ASSERT_TRUE(import(steps));
  EXPECT_EQ(imported().steps.upper_bound(), 32767);
  EXPECT_EQ(error_of([&] { import(steps + "0,,,\r"); }), platform::errnum::kOverflow);
  EXPECT_TRUE(import(steps + "-5,,,\r"));  // joining an existing step is still fine

  std::string choices;
  for (int i = 0; i < 32768; ++i) choices += "7,,,\r";
  ASSERT_TRUE(import(choices));
  EXPECT_EQ(error_of([&] { import(choices + "7,,,\r"); }), platform::errnum::kOverflow);
}

// Lines longer than the reader keeps decide as their whole text would.
TEST_F(CsvImport, OverlongLines) {
  const std::string huge(kMaxKeptLineBytes + 100000, 'x');
  EXPECT_FALSE(import("1,a,b,c\r\n" + huge + "\r\n"));  // no comma anywhere: rejected
  EXPECT_EQ(error_of([&] { import(huge + ",a,b,c"); }), platform::errnum::kOverflow);
  // A message stripped of its quotes is short enough to save.
  ASSERT_TRUE(import("1,a,\"b\"," + std::string(kMaxKeptLineBytes + 100000, '"') + "end"));
  EXPECT_EQ(imported().steps.at(0).Choices.at(0).choMessage, u"end");
  // A message too long for a record file fails the save.
  EXPECT_FALSE(import("1,a,b," + huge));
  EXPECT_NE(f.model.ErrorString().find(u"\r\nCorvane.MailObjectModel\r\n59"), Text::npos);
}

// The importer must build exactly what the step-by-step algorithm builds with SplitCSVLine and
// findLessonIndex.
TEST_F(CsvImport, MatchesTheStepByStepAlgorithm) {
  std::mt19937 random(12345);
  std::string text;
  std::vector<Text> lines;
  for (int i = 0; i < 600; ++i) {
    const std::string line = std::to_string(static_cast<int>(random() % 40) - 20) + ",f" +
                             std::to_string(i) + ",s,m" + std::to_string(random() % 1000);
    text += line + "\r\n";
    lines.emplace_back(line.begin(), line.end());
  }
  EmailLesson expected;
  for (const Text& line : lines) {
    const List<Text> columns = f.model.SplitCSVLine(line);
    const std::string digits(columns.at(0).begin(), columns.at(0).end());
    const auto number = static_cast<Integer>(std::stoi(digits));
    const LessonChoice c{columns.at(3), columns.at(2), columns.at(1)};
    const Integer at = f.model.findLessonIndex(expected, number);
    if (at < 0) {
      expected.steps.push_back(LessonStep{List<LessonChoice>::sized(0, {c}), number});
    } else {
      expected.steps.at(at).Choices.push_back(c);
    }
  }
  ASSERT_TRUE(import(text));
  EXPECT_EQ(imported(), expected);
}

TEST(ConvertLesson2CSV, AnswersFalseAndTouchesNothing) {
  TempDir dir;
  lessontest::Fixture f;
  f.model.set_ErrorString(u"kept");
  EXPECT_FALSE(f.model.ConvertLesson2CSV(u16(dir / "a.les"), u16(dir / "a.csv")));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  EXPECT_EQ(f.model.ErrorString(), u"kept");
}

}  // namespace
}  // namespace corvane
