#pragma once
// The debug dumps of e-mails and templates: records as readable text for developers. Every
// line ends with CRLF.
//
// The dumps can also be written piece by piece to a sink as they are built instead of into one
// string: a large record's text (many times the record's size) then never has to be held
// whole. Every piece ends at a line end; the pieces together are exactly the text the dump
// functions return.

#include "corvane/model/presenter.h"
#include "corvane/model/records.h"
#include "corvane/model/text_sink.h"

namespace corvane {

// The dumps, also shown in the presenter's debug window when show is exactly True (-1).
Text debug_template(const MsgContents& contents, Boolean show, Presenter& presenter);
Text debug_email(const EmailMsg& email, Boolean show, Presenter& presenter);

void write_email_dump(const EmailMsg& email, const TextSink& sink);
void write_template_dump(const MsgContents& contents, const TextSink& sink);

}  // namespace corvane
