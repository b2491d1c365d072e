#pragma once
// Lesson and time display: a lesson file as indented text, and the current date and time, each
// shown in a modal message box.

#include "corvane/model/presenter.h"
#include "corvane/model/records.h"
#include "corvane/model/text_sink.h"

namespace corvane {

// The text display_lesson shows for the lesson read from path.
Text lesson_display_text(const Text& path, const EmailLesson& lesson);

// The same text written piece by piece to sink, every piece ending at a line end.
void write_lesson_display(const Text& path, const EmailLesson& lesson, const TextSink& sink);

// The text show_time shows for the time now.
Text time_display_text(Date now);

// Reads the lesson file (failing as open_lesson does) and shows its text. A message box that
// cannot be shown is skipped.
void display_lesson(const Text& path, Presenter& presenter);

// Shows the current local date and time under the library's title.
void show_time(Presenter& presenter);

}  // namespace corvane
