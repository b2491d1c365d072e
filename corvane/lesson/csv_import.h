#pragma once
// Lesson CSV import: one choice per line, "step number,sender,subject,message", grouped into
// steps by step number (lesson_builder.h). Lines are read in the ANSI code page; numbers in
// the user's locale.

#include <optional>

#include "corvane/model/records.h"

namespace corvane {

// The lesson the CSV file at path describes, or no value when a line is rejected. Failures
// to read the file and step numbers outside the 16-bit range throw platform::AutomationError
// with the library's source.
std::optional<EmailLesson> read_lesson_csv(const Text& path);

}  // namespace corvane
