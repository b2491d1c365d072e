#include "sorter/ui/tray_menu.h"

#include "sorter/ui/ui_text.h"

namespace sorter::ui {

UniqueMenu build_tray_menu(bool developer_item_visible) {
  UniqueMenu menu(CreatePopupMenu());
  if (!menu) return menu;
  AppendMenuW(menu.get(), MF_STRING, kMenuExitId, kMenuExit);
  if (developer_item_visible) AppendMenuW(menu.get(), MF_STRING, kMenuCrashId, kMenuCrash);
  AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu.get(), MF_STRING, kMenuAboutId, kMenuAbout);
  return menu;
}

}  // namespace sorter::ui
