#include "corvane/lesson/lesson_builder.h"

#include "corvane/model/library_identity.h"
#include "platform/automation_error.h"

namespace corvane {
namespace {

constexpr std::size_t kMaxElements = 32768;  // subscripts 0 to 32767
constexpr int32_t kNumberOffset = 32768;

[[noreturn]] void overflow() {
  throw platform::AutomationError(platform::errnum::kOverflow, {}, Text(kProgId));
}

}  // namespace

LessonBuilder::LessonBuilder() : subscript_of_number_(65536, -1) {}

void LessonBuilder::add_choice(Integer step_number, LessonChoice choice) {
  int32_t& subscript = subscript_of_number_[static_cast<std::size_t>(step_number + kNumberOffset)];
  List<LessonStep>& steps = lesson_.steps;
  if (subscript < 0) {
    if (steps.size() >= kMaxElements) overflow();
    LessonStep step;
    step.Index = step_number;
    step.Choices.push_back(std::move(choice), 0);
    subscript = static_cast<int32_t>(steps.size());
    steps.push_back(std::move(step), 0);
    return;
  }
  List<LessonChoice>& choices = steps.items()[static_cast<std::size_t>(subscript)].Choices;
  if (choices.size() >= kMaxElements) overflow();
  choices.push_back(std::move(choice), 0);
}

}  // namespace corvane
