#pragma once
// The round's e-mail reader on Windows: the library's COM class MailObjectModel, created
// early bound (by class and interface identifier) when the round handles its first file, and
// kept as long as the round. The library's client side (corvane/com/client) makes the calls.

#include "sorter/engine/mail_reader.h"

namespace sorter::ui {

// COM on this thread (apartment-threaded) for the object's lifetime.
class ComSession {
 public:
  ComSession();
  ~ComSession();
  ComSession(const ComSession&) = delete;
  ComSession& operator=(const ComSession&) = delete;

 private:
  bool initialized_ = false;
};

// Throws platform::AutomationError (the creation's result code as error number) when the
// class is not registered or cannot be created.
MailReaderFactory com_mail_reader_factory();

}  // namespace sorter::ui
