#pragma once
// E-mail files: each holds one EmailMsg record. The failures of writing, reading and copying
// are answered as values; is_read lets its failure propagate.

#include "corvane/model/error_text.h"
#include "corvane/model/records.h"

namespace corvane {

// What opening an e-mail file gives: the record as far as it was read, and the failure to
// open or read the file, if there was one. A zero-length file is no failure: it is the empty
// record.
struct OpenedEmail {
  EmailMsg email;
  Failure failure;
};

Failure save_email(const Text& path, const EmailMsg& email);

// Creates a missing file (in an existing folder) and answers the empty record for it.
OpenedEmail open_email(const Text& path);

// Copies the file at original_path to copy_path, replacing what is there, and records
// copy_path as the e-mail's attachment; on failure the e-mail is left as it was.
Failure add_attachment(const Text& original_path, const Text& copy_path, EmailMsg& email);

// Whether the e-mail file's read flag (its fourth byte) is set; a shorter file is unread.
// Opens the file for reading and writing, so a missing file is created. Throws
// platform::AutomationError.
bool is_read(const Text& path);

}  // namespace corvane
