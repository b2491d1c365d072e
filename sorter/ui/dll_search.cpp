#include "sorter/ui/dll_search.h"

#include <windows.h>

#include <string>

#include "platform/automation_error.h"
#include "platform/utf.h"

namespace sorter::ui {

void restrict_dll_search() {
  // Looked up rather than imported, so that the program still starts where it is missing.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto set_default = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
                                        GetProcAddress(kernel, "SetDefaultDllDirectories")))
                                  : nullptr;
  const BOOL done = set_default ? set_default(LOAD_LIBRARY_SEARCH_SYSTEM32) : SetDllDirectoryW(L"");
  if (!done) {
    throw platform::AutomationError(
        51, platform::from_utf8("The library search path could not be restricted (error " +
                                std::to_string(GetLastError()) + ")"));
  }
}

}  // namespace sorter::ui
