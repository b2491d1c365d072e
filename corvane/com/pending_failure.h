#pragma once
// OpenEmail's pending failure across COM.
//
// OpenEmail answers S_OK and a partial record when its file cannot be read; the failure is
// then pending for the caller, who tests it right after the call. The server carries it as
// the thread's error information, set while returning success:
//
//   * OpenEmail always sets the thread's error information before it returns: to nothing when
//     the file was read, to an error object when it was not.
//   * The error object's GUID is IID__MailObjectModel, its source and description are the
//     failure's, and its help context is the failure's automation error number (a negative
//     number is stored as its two's-complement DWORD). Its help file is empty.
//
// A caller takes and clears the failure with GetErrorInfo(0, ...) immediately after the call,
// before any other COM call on the thread can replace it; take_pending_failure() does that.

#include <windows.h>
#include <ole2.h>

#include <optional>
#include <string>

#include "corvane/com/unique_resource.h"
#include "platform/automation_error.h"

namespace corvane::com {

// The failure left by the OpenEmail call that just returned on this thread, taken and cleared.
// Empty when that call read its file.
inline std::optional<platform::AutomationError> take_pending_failure() {
  com_ptr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return std::nullopt;
  unique_bstr source, description;
  DWORD number = 0;
  info->GetSource(source.put());
  info->GetDescription(description.put());
  info->GetHelpContext(&number);
  return platform::AutomationError(static_cast<int32_t>(number), bstr_text(description.get()),
                                   bstr_text(source.get()));
}

}  // namespace corvane::com
