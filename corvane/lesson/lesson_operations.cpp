// Lesson files: SaveLesson, OpenLesson, and findLessonIndex, the step lookup by step number.

#include "corvane/model/error_text.h"
#include "corvane/model/mail_object_model.h"
#include "corvane/model/record_file.h"

namespace corvane {
namespace {

constexpr int32_t kOpenLessonError = 51620;
constexpr std::u16string_view kOpenLessonSource = u"OpenLesson";
constexpr std::u16string_view kOpenLessonMessage = u"Error Opening Lesson:";
constexpr int64_t kIntegerMin = -32768;
constexpr int64_t kIntegerMax = 32767;

}  // namespace

bool MailObjectModel::SaveLesson(const Text& Path, const EmailLesson& Lesson) {
  try {
    with_library_source([&] { write_record_file(Path, Lesson); });
    return true;
  } catch (const platform::AutomationError& e) {
    error_string_ = lesson_save_error_text(e);
    return false;
  }
}

EmailLesson MailObjectModel::OpenLesson(const Text& Path) {
  EmailLesson lesson;
  try {
    with_library_source([&] { read_record_file(Path, lesson); });
  } catch (const platform::AutomationError& e) {
    throw platform::AutomationError(
        kOpenLessonError, Text(kOpenLessonMessage) + Text(kCrLf) + e.description(),
        Text(kOpenLessonSource));
  }
  return lesson;
}

// The subscript walked is a 16-bit integer: a lesson whose steps start below -32768 overflows
// on its first step, and one whose last subscript is 32767 overflows when it steps past it
// without a match.
Integer MailObjectModel::findLessonIndex(const EmailLesson& elePatient, Integer Key) {
  const List<LessonStep>& steps = elePatient.steps;
  if (!steps.is_sized() || steps.upper_bound() > kIntegerMax) return -1;
  if (steps.lower_bound() < kIntegerMin) {
    throw platform::AutomationError(platform::errnum::kOverflow, {}, Text(kProgId));
  }
  int64_t subscript = steps.lower_bound();
  for (const LessonStep& step : steps) {
    if (step.Index == Key) return static_cast<Integer>(subscript);
    ++subscript;
  }
  if (steps.upper_bound() == kIntegerMax) {
    throw platform::AutomationError(platform::errnum::kOverflow, {}, Text(kProgId));
  }
  return -1;
}

}  // namespace corvane
