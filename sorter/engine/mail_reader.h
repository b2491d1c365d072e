#pragma once
// How the sorting round reads e-mail files. In-process it decodes them itself; the Windows
// tray program goes through the COM object. A reader is created through its factory when the
// round handles its first file and lives as long as the round.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "corvane/mail/email_operations.h"
#include "platform/drop_file.h"

namespace sorter {

// The record read, and the failure when the file could not be opened or read.
using OpenedEmail = corvane::OpenedEmail;

class MailReader {
 public:
  virtual ~MailReader() = default;
  // Reads the e-mail in file, a drop-folder file the round has opened; path names it.
  // Readers that can only take a path use it while file keeps the file in place.
  virtual OpenedEmail open(const std::u16string& path, platform::DropFile& file) = 0;
};

// Creates the reader; throws platform::AutomationError when it cannot.
using MailReaderFactory = std::function<std::unique_ptr<MailReader>()>;

// The reader over the library's own class in this process.
MailReaderFactory in_process_mail_reader_factory();

}  // namespace sorter
