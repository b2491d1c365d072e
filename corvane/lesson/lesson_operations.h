#pragma once
// Lesson files (one EmailLesson record each) and the step lookup by step number.

#include "corvane/model/error_text.h"
#include "corvane/model/records.h"

namespace corvane {

// Writes the lesson file; the failure is answered as a value.
Failure save_lesson(const Text& path, const EmailLesson& lesson);

// Reads a lesson file; a failure throws error 51620 with source "OpenLesson" and the
// underlying description after "Error Opening Lesson:" and CRLF.
EmailLesson open_lesson(const Text& path);

// The subscript of the first step whose number is key, -1 when none (or the steps are
// unsized). The subscript walked is a 16-bit integer, so a walk that leaves -32768..32767
// overflows (error 6).
Integer find_lesson_index(const EmailLesson& lesson, Integer key);

}  // namespace corvane
