#pragma once
// Sorter.exe runs from the store folder, which others can write to: the libraries it loads at run
// time (the system's own, loaded on demand by shell, COM and common controls) must come from
// System32, never from the program's folder or the current folder.

namespace sorter::ui {

// Restricts the process's library search to System32 (SetDefaultDllDirectories). On a Windows
// without that call (Windows 7 before KB2533623) it removes the current folder from the search
// instead, the most that system allows. Throws platform::AutomationError when the call fails.
void restrict_dll_search();

}  // namespace sorter::ui
