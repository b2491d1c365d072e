#include "corvane/lesson/lesson_operations.h"

#include "corvane/model/library_identity.h"
#include "corvane/model/record_file.h"

namespace corvane {
namespace {

constexpr int32_t kOpenLessonError = 51620;
constexpr std::u16string_view kOpenLessonSource = u"OpenLesson";
constexpr std::u16string_view kOpenLessonMessage = u"Error Opening Lesson:";
constexpr int64_t kIntegerMin = -32768;
constexpr int64_t kIntegerMax = 32767;

}  // namespace

Failure save_lesson(const Text& path, const EmailLesson& lesson) {
  return failure_of([&] { write_record_file(path, lesson); });
}

EmailLesson open_lesson(const Text& path) {
  EmailLesson lesson;
  try {
    with_library_source([&] { read_record_file(path, lesson); });
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
Integer find_lesson_index(const EmailLesson& lesson, Integer key) {
  const List<LessonStep>& steps = lesson.steps;
  if (!steps.is_sized() || steps.upper_bound() > kIntegerMax) return -1;
  if (steps.lower_bound() < kIntegerMin) {
    throw platform::AutomationError(platform::errnum::kOverflow, {}, Text(kProgId));
  }
  int64_t subscript = steps.lower_bound();
  for (const LessonStep& step : steps) {
    if (step.Index == key) return static_cast<Integer>(subscript);
    ++subscript;
  }
  if (steps.upper_bound() == kIntegerMax) {
    throw platform::AutomationError(platform::errnum::kOverflow, {}, Text(kProgId));
  }
  return -1;
}

}  // namespace corvane
