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

#include "platform/automation_error.h"

namespace corvane::com {

// The failure left by the OpenEmail call that just returned on this thread, taken and cleared.
// Empty when that call read its file.
inline std::optional<platform::AutomationError> take_pending_failure() {
  IErrorInfo* raw = nullptr;
  if (GetErrorInfo(0, &raw) != S_OK || raw == nullptr) return std::nullopt;
  auto text = [](BSTR b) {
    std::u16string out(b ? reinterpret_cast<const char16_t*>(b) : u"", b ? SysStringLen(b) : 0);
    SysFreeString(b);
    return out;
  };
  BSTR source = nullptr;
  BSTR description = nullptr;
  DWORD number = 0;
  raw->GetSource(&source);
  raw->GetDescription(&description);
  raw->GetHelpContext(&number);
  raw->Release();
  auto source_text = text(source);
  auto description_text = text(description);
  return platform::AutomationError(static_cast<int32_t>(number), std::move(description_text),
                                   std::move(source_text));
}

}  // namespace corvane::com
