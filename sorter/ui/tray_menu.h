#pragma once
// The popup menu of the tray icon, the main window's hidden "File" menu: exit, the developer's
// immediate end (for developer accounts only), a separator and the about box. No item has an
// access key or a shortcut.

#include <windows.h>

#include "sorter/ui/gdi_handles.h"

namespace sorter::ui {

enum TrayMenuId : UINT { kMenuExitId = 101, kMenuCrashId = 102, kMenuAboutId = 104 };

UniqueMenu build_tray_menu(bool developer_item_visible);

}  // namespace sorter::ui
