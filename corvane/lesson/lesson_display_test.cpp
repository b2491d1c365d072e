#include <gtest/gtest.h>

#include <filesystem>

#include "corvane/lesson/lesson_test_support.h"
#include "tests/support/temp_dir.h"

namespace corvane {
namespace {

using lessontest::choice;
using lessontest::error_of;
using lessontest::lesson_of;
using testsupport::TempDir;
using testsupport::u16;

TEST(LessonDisplayText, StepsAndChoicesIndented) {
  const EmailLesson lesson =
      lesson_of({{1, {choice(u"Ann", u"Hi", u"Hello"), choice(u"Bob", u"Yo", u"A\r\nB")}},
                 {-3, {choice(u"Cid", u"S", u"M")}}},
                1);
  EXPECT_EQ(lesson_display_text(u"C:\\l.les", lesson),
            u"[C:\\l.les]\r\nSteps:\r\n"
            u"\tIndex: 1\tChoices: \r\n"
            u"\t\tFrom: Ann\r\n\t\tSubject: Hi\r\n\t\tMessage: Hello\r\n"
            u"\t\tFrom: Bob\r\n\t\tSubject: Yo\r\n\t\tMessage: A\r\nB\r\n"
            u"\tIndex: -3\tChoices: \r\n"
            u"\t\tFrom: Cid\r\n\t\tSubject: S\r\n\t\tMessage: M\r\n"
            u"_____");
}

TEST(LessonDisplayText, EmptyLessonsAndUnsizedChoices) {
  EXPECT_EQ(lesson_display_text(u"p", EmailLesson{}),
            u"[p]\r\nSteps:\r\n_____");
  EmailLesson lesson;
  lesson.steps.push_back(LessonStep{List<LessonChoice>(), 4});
  EXPECT_EQ(lesson_display_text(u"p", lesson),
            u"[p]\r\nSteps:\r\n\tIndex: 4\tChoices: \r\n_____");
}

// The lesson box shows the file's display text under the title Lesson; a missing file is
// created and shown empty; a file that cannot be opened raises and shows nothing; a message
// box that fails is skipped.
TEST(DisplayLesson, ShowsTheFileInALessonBox) {
  TempDir dir;
  const Text saved = u16(dir / "l.les"), missing = u16(dir / "new.les");
  lessontest::Fixture f;
  ASSERT_TRUE(f.model.SaveLesson(saved, lesson_of({{2, {choice(u"Ann")}}})));
  f.model.DisplayLesson(saved);
  f.model.DisplayLesson(missing);
  EXPECT_EQ(error_of([&] { f.model.DisplayLesson(u16(dir / "x" / "l.les")); }), 51620);
  ASSERT_EQ(f.presenter->shown.size(), 2u);
  for (const auto& shown : f.presenter->shown) {
    EXPECT_EQ(shown.title, u"Lesson");
    EXPECT_EQ(shown.icon, MessageIcon::kInformation);
  }
  EXPECT_EQ(f.presenter->shown[0].text, lesson_display_text(saved, f.model.OpenLesson(saved)));
  EXPECT_NE(f.presenter->shown[0].text.find(u"\tIndex: 2\tChoices: \r\n\t\tFrom: Ann\r\n"),
            Text::npos);
  EXPECT_EQ(f.presenter->shown[1].text, u"[" + missing + u"]\r\nSteps:\r\n_____");
  EXPECT_TRUE(std::filesystem::exists(dir / "new.les"));
  f.presenter->fail = true;
  EXPECT_NO_THROW(f.model.DisplayLesson(saved));
}

TEST(ShowTime, ShowsTheDateInAnUntitledBox) {
  lessontest::Fixture f;
  f.model.ShowTime();
  ASSERT_EQ(f.presenter->shown.size(), 1u);
  EXPECT_EQ(f.presenter->shown[0].title, kLibraryTitle);
  EXPECT_EQ(f.presenter->shown[0].icon, MessageIcon::kNone);
  EXPECT_FALSE(f.presenter->shown[0].text.empty());
}

}  // namespace
}  // namespace corvane
