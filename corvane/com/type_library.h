#pragma once
// The server's own module and the type library embedded in it (resource TYPELIB 1).

#include <windows.h>
#include <ole2.h>

#include <string>

#include "corvane/com/unique_resource.h"

namespace corvane::com {

// The DLL's module handle and full path.
HMODULE this_module() noexcept;
std::wstring module_path();

// The type library loaded from this module, kept for the life of the process. Throws
// AutomationError when it cannot be loaded.
com_ptr<ITypeLib> type_library();
com_ptr<ITypeInfo> type_info_of(REFGUID guid);

// The record information of one of our record types, for SAFEARRAYs and VT_RECORD values.
com_ptr<IRecordInfo> record_info_of(REFGUID record_guid);

// Answers a failed result code as an AutomationError (number from the code, text of the system).
void throw_if_failed(HRESULT hr, const wchar_t* what);

}  // namespace corvane::com
