#include "corvane/lesson/lesson_display.h"

#include <exception>

#include "corvane/lesson/lesson_operations.h"
#include "corvane/model/error_text.h"
#include "corvane/model/library_identity.h"
#include "platform/clock.h"
#include "platform/locale_text.h"

namespace corvane {
namespace {

constexpr std::u16string_view kLessonTitle = u"Lesson";

// Appends one piece of the display text; a piece that cannot be built is left out.
template <class Build>
void append_part(Text& out, Build&& build) noexcept {
  try {
    build(out);
  } catch (...) {
  }
}

void append_choice(Text& out, const LessonChoice& choice) {
  out += u"\t\tFrom: " + choice.choFrom + Text(kCrLf);
  out += u"\t\tSubject: " + choice.choSubject + Text(kCrLf);
  out += u"\t\tMessage: " + choice.choMessage + Text(kCrLf);
}

// The display text into out; with a sink, out is handed over and emptied after each step
// once it holds a few lines.
void write_display(Text& out, const Text& path, const EmailLesson& lesson,
                   const TextSink* sink) {
  constexpr std::size_t kPieceChars = 16384;
  const auto flush = [&](std::size_t at_least) {
    if (sink == nullptr || out.size() < at_least || out.empty()) return;
    (*sink)(out);
    out.clear();
  };
  append_part(out, [&](Text& t) {
    t += u"[" + path + u"]" + Text(kCrLf) + u"Steps:" + Text(kCrLf);
  });
  for (const LessonStep& step : lesson.steps) {
    append_part(out, [&](Text& t) {
      t += u"\tIndex: " + decimal_text(step.Index) + u"\tChoices: " + Text(kCrLf);
    });
    for (const LessonChoice& choice : step.Choices) {
      append_part(out, [&](Text& t) { append_choice(t, choice); });
      flush(kPieceChars);
    }
  }
  append_part(out, [](Text& t) { t += u"_____"; });
  flush(0);
}

}  // namespace

void write_lesson_display(const Text& path, const EmailLesson& lesson, const TextSink& sink) {
  Text buffer;
  write_display(buffer, path, lesson, &sink);
}

Text lesson_display_text(const Text& path, const EmailLesson& lesson) {
  Text out;
  write_display(out, path, lesson, nullptr);
  return out;
}

Text time_display_text(Date now) { return platform::date_text(now); }

void display_lesson(const Text& path, Presenter& presenter) {
  const EmailLesson lesson = open_lesson(path);
  const Text text = lesson_display_text(path, lesson);
  try {
    presenter.show_message(text, kLessonTitle, MessageIcon::kInformation);
  } catch (...) {
    // A message box that cannot be shown is skipped: the lesson was read, the call succeeds.
  }
}

void show_time(Presenter& presenter) {
  presenter.show_message(time_display_text(platform::local_now_as_oa_date()), kLibraryTitle,
                           MessageIcon::kNone);
}

}  // namespace corvane
