#pragma once
// How the sorting round reads e-mail files. In-process it wraps corvane::MailObjectModel; the
// Windows tray program wraps the COM object. A reader is created through its factory when the
// round handles its first file and lives as long as the round.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "corvane/model/records.h"
#include "platform/automation_error.h"

namespace sorter {

struct OpenedEmail {
  corvane::EmailMsg email;
  // The failure OpenEmail left pending: the file could not be opened or read.
  std::optional<platform::AutomationError> failure;
};

class MailReader {
 public:
  virtual ~MailReader() = default;
  virtual OpenedEmail open(const std::u16string& path) = 0;
};

// Creates the reader; throws platform::AutomationError when it cannot.
using MailReaderFactory = std::function<std::unique_ptr<MailReader>()>;

// The reader over the library's own class in this process.
MailReaderFactory in_process_mail_reader_factory();

}  // namespace sorter
