#pragma once
// An e-mail whose message is one text box (400 by 300, Arial 10, regular): the shape of the
// e-mails the command-line tool sends and of the store console's rejection notices.

#include "corvane/model/records.h"

namespace corvane {

EmailMsg text_email(Text from, Text to, Text subject, Text text, double date);

}  // namespace corvane
