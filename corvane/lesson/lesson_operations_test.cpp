#include <gtest/gtest.h>

#include <filesystem>

#include "corvane/lesson/lesson_test_support.h"
#include "tests/support/bytes.h"
#include "tests/support/temp_dir.h"

namespace corvane {
namespace {

using lessontest::choice;
using lessontest::error_of;
using lessontest::lesson_of;
using testsupport::Bytes;
using testsupport::TempDir;
using testsupport::u16;

TEST(SaveLesson, FailureLeavesThreeLinesAndSuccessKeepsThem) {
  TempDir dir;
  lessontest::Fixture f;
  EXPECT_FALSE(f.model.SaveLesson(u16(dir / "no-folder" / "l.les"), EmailLesson{}));
  EXPECT_EQ(f.model.ErrorString(), u"Path not found\r\nCorvane.MailObjectModel\r\n76");
  EXPECT_FALSE(f.model.SaveLesson(u"", EmailLesson{}));
  EXPECT_FALSE(f.model.SaveLesson(u16(dir.path()), EmailLesson{}));
  const Text after_failures = f.model.ErrorString();
  EXPECT_TRUE(f.model.SaveLesson(u16(dir / "ok.les"), EmailLesson{}));
  EXPECT_EQ(f.model.ErrorString(), after_failures);
}

TEST(OpenLesson, MissingFileInAnExistingFolderIsCreatedEmpty) {
  TempDir dir;
  lessontest::Fixture f;
  EXPECT_EQ(f.model.OpenLesson(u16(dir / "new.les")), EmailLesson{});
  ASSERT_TRUE(std::filesystem::exists(dir / "new.les"));
  EXPECT_EQ(std::filesystem::file_size(dir / "new.les"), 0u);
}

TEST(OpenLesson, FailuresRaise51620WithTheUnderlyingDescription) {
  TempDir dir;
  lessontest::Fixture f;
  f.model.set_ErrorString(u"kept");
  for (const Text& path : {u16(dir / "no-folder" / "l.les"), Text(), u16(dir.path())}) {
    try {
      f.model.OpenLesson(path);
      ADD_FAILURE() << "no error";
    } catch (const platform::AutomationError& e) {
      EXPECT_EQ(e.number(), 51620);
      EXPECT_EQ(e.source(), u"OpenLesson");
      EXPECT_EQ(e.description().rfind(u"Error Opening Lesson:\r\n", 0), 0u);
      EXPECT_GT(e.description().size(), 23u);
    }
  }
  EXPECT_EQ(f.model.ErrorString(), u"kept");
}

TEST(OpenLesson, DamagedFileRaises51620) {
  TempDir dir;
  lessontest::Fixture f;
  testsupport::write_bytes(dir / "bad.les", Bytes().u16(2).u32(1).i32(0));  // two dimensions
  EXPECT_EQ(error_of([&] { f.model.OpenLesson(u16(dir / "bad.les")); }), 51620);
}

TEST(FindLessonIndex, LowestSubscriptWinsAndMissingGivesMinusOne) {
  lessontest::Fixture f;
  const EmailLesson lesson = lesson_of({{5, {}}, {7, {}}, {7, {}}});
  EXPECT_EQ(f.model.findLessonIndex(lesson, 7), 1);
  EXPECT_EQ(f.model.findLessonIndex(lesson, 5), 0);
  EXPECT_EQ(f.model.findLessonIndex(lesson, 6), -1);
  EXPECT_EQ(f.model.findLessonIndex(lesson_of({{5, {}}, {7, {}}}, 1), 5), 1);
  EXPECT_EQ(f.model.findLessonIndex(lesson_of({{5, {}}}, -3), 5), -3);
  EXPECT_EQ(f.model.findLessonIndex(EmailLesson{}, 0), -1);
  EXPECT_EQ(f.model.findLessonIndex(lesson_of({}), 0), -1);
}

TEST(FindLessonIndex, SixteenBitSubscriptLimits) {
  lessontest::Fixture f;
  // Upper bound above 32767: no search at all.
  EXPECT_EQ(f.model.findLessonIndex(lesson_of({{5, {}}, {7, {}}}, 32767), 5), -1);
  // Upper bound exactly 32767: a match is found, a miss overflows.
  const EmailLesson last = lesson_of({{5, {}}, {7, {}}}, 32766);
  EXPECT_EQ(f.model.findLessonIndex(last, 7), 32767);
  EXPECT_EQ(error_of([&] { f.model.findLessonIndex(last, 8); }), platform::errnum::kOverflow);
  // So does a sized list without steps whose upper bound is 32767 (lower bound 32768).
  EXPECT_EQ(error_of([&] { f.model.findLessonIndex(lesson_of({}, 32768), 8); }),
            platform::errnum::kOverflow);
  // A first subscript below -32768 cannot be visited.
  EXPECT_EQ(error_of([&] { f.model.findLessonIndex(lesson_of({{5, {}}}, -40000), 5); }),
            platform::errnum::kOverflow);
}

}  // namespace
}  // namespace corvane
