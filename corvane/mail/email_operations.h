#pragma once
// E-mail files as the operations on them see them.

#include <optional>

#include "corvane/model/records.h"
#include "platform/automation_error.h"

namespace corvane {

// What opening an e-mail file gives: the record as far as it was read, and the failure to
// open or read the file, if there was one. A zero-length file is no failure: it is the empty
// record.
struct OpenedEmail {
  EmailMsg email;
  std::optional<platform::AutomationError> failure;
};

}  // namespace corvane
