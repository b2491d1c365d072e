#pragma once
// Helpers shared by the lesson tests: a model whose message boxes are recorded, lesson
// fixtures and a probe for the error a call raises.

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "corvane/lesson/lesson_display.h"
#include "corvane/model/library_identity.h"
#include "corvane/object_model/mail_object_model.h"
#include "platform/automation_error.h"
#include "tests/support/error_of.h"

namespace corvane::lessontest {

struct ShownMessage {
  std::u16string text;
  std::u16string title;
  MessageIcon icon;
};

class RecordingPresenter : public Presenter {
 public:
  void show_debug_window(std::u16string_view) override {}
  void show_message(std::u16string_view text, std::u16string_view title,
                    MessageIcon icon) override {
    if (fail) throw std::runtime_error("no display");
    shown.push_back({std::u16string(text), std::u16string(title), icon});
  }
  std::vector<ShownMessage> shown;
  bool fail = false;
};

struct Fixture {
  std::shared_ptr<RecordingPresenter> presenter = std::make_shared<RecordingPresenter>();
  MailObjectModel model{presenter, nullptr};
};

inline LessonChoice choice(const char16_t* from, const char16_t* subject = u"",
                           const char16_t* message = u"") {
  return LessonChoice{message, subject, from};
}

// A lesson whose steps carry the given numbers and choices, starting at subscript lower.
inline EmailLesson lesson_of(std::vector<std::pair<Integer, std::vector<LessonChoice>>> steps,
                             int32_t lower = 0) {
  EmailLesson lesson;
  lesson.steps = List<LessonStep>::sized(lower);
  for (auto& [number, choices] : steps) {
    lesson.steps.push_back(LessonStep{List<LessonChoice>::sized(0, std::move(choices)), number});
  }
  return lesson;
}

using testsupport::error_of;

}  // namespace corvane::lessontest
