#pragma once
// The e-mail that tells a sender that a teacher rejected their e-mail: addressed back to the
// sender, "Not delivered: " and the original subject, the teacher's note as its one text box,
// shaped like the e-mails the command-line tool writes.

#include <string>

#include "corvane/model/records.h"

namespace sorter::console {

corvane::EmailMsg rejection_notice(const corvane::EmailMsg& rejected, const std::u16string& from,
                                   const std::u16string& note, double now);

}  // namespace sorter::console
