#pragma once
// The client side of the library's COM class, for programs that use Corvane.dll through COM
// (the tray program, the COM tests): creating the object, opening an e-mail with the record's
// ownership handled here, and the failure a call leaves in the thread's error information.
//
// OpenEmail answers S_OK and a partial record when its file cannot be read; the failure is
// then pending as the thread's error information: an error object whose source and
// description are the failure's and whose help context is its automation error number (a
// negative number stored as its two's-complement DWORD). A successful read clears it. It is
// taken right after the call, before any other COM call on the thread can replace it.

#include <windows.h>
#include <ole2.h>

#include <optional>
#include <string_view>

#include "corvane/com/corvane_idl.h"
#include "corvane/com/unique_resource.h"
#include "corvane/mail/email_operations.h"
#include "platform/automation_error.h"

namespace corvane::com::client {

// A new MailObjectModel object, created early bound (by class and interface identifier).
// Throws AutomationError (the creation's result code as error number) when the class is not
// registered or cannot be created.
com_ptr<_MailObjectModel> create_mail_object();

// The thread's error information, taken and cleared; empty when none is set.
std::optional<platform::AutomationError> take_error_info();

// The error a failed call stands for: 0x800A0000 + n carries automation error number n; any
// other result code is kept as the number, with `what` as the description.
platform::AutomationError failure_of_call(HRESULT hr, std::u16string_view what);

// What OpenEmail gave: the record, and the failure to read the file if there was one. A call
// that failed outright reads nothing: an empty record, and the failure of the call.
corvane::OpenedEmail open_email(_MailObjectModel& object, std::u16string_view path);

}  // namespace corvane::com::client
