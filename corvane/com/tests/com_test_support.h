#pragma once
// Shared by the COM tests: the DLL under test beside the test program, regsvr32, an apartment
// for the test thread, objects created through COM, and owned automation values.

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <string>

#include "corvane/com/corvane_idl.h"
#include "corvane/com/unique_resource.h"
#include "corvane/model/records.h"
#include "tests/support/sample_email.h"

namespace comtest {

using corvane::com::com_ptr;
using corvane::com::unique_bstr;

// Corvane.dll in the test program's folder.
std::wstring dll_path();

// Runs regsvr32 with the given switches on the DLL and answers its exit code.
DWORD regsvr32(const std::wstring& switches);

// A new object of class MailObjectModel, created through the registry (CoCreateInstance).
com_ptr<_MailObjectModel> create_object();

inline unique_bstr bstr(std::u16string_view text) { return corvane::com::make_bstr(text); }
inline std::u16string text(BSTR value) { return corvane::com::bstr_text(value); }

// The thread's error information, taken: number (help context), source and description.
struct ErrorInfo {
  bool present = false;
  DWORD number = 0;
  std::u16string source;
  std::u16string description;
};
ErrorInfo take_error_info();

// Result code of automation error number n.
constexpr HRESULT error_hresult(int n) { return static_cast<HRESULT>(0x800A0000u + n); }

// Sample records exercising every field, lists with lower bounds other than zero, a sized
// empty list and unsized lists.
using testsupport::sample_contents;
using testsupport::sample_email;
corvane::EmailLesson sample_lesson();

}  // namespace comtest
