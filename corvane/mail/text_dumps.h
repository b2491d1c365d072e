#pragma once
// The debug dumps of e-mails and templates and the display text of a lesson, written piece by
// piece to a sink as they are built instead of into one string: a large record's text (many
// times the record's size) then never has to be held whole. Every piece ends at a line end;
// the pieces together are exactly the text DebugEmail, DebugTemplate and
// lesson_display_text return. Failures are those of the operations themselves.

#include <functional>
#include <string_view>

#include "corvane/model/records.h"

namespace corvane {

using TextSink = std::function<void(std::u16string_view piece)>;

void write_email_dump(const EmailMsg& email, const TextSink& sink);
void write_template_dump(const MsgContents& contents, const TextSink& sink);
void write_lesson_display(const Text& path, const EmailLesson& lesson, const TextSink& sink);

}  // namespace corvane
