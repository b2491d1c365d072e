#include "sorter/ui/tray_menu.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sorter::ui {
namespace {

std::vector<std::wstring> texts_of(const UniqueMenu& menu) {
  std::vector<std::wstring> texts;
  for (int i = 0; i < GetMenuItemCount(menu.get()); ++i) {
    wchar_t text[128] = {};
    GetMenuStringW(menu.get(), static_cast<UINT>(i), text, 128, MF_BYPOSITION);
    texts.push_back(text);
  }
  return texts;
}

// What the tray menu says. Another process cannot read a menu under Wine, so the GUI tests
// choose its items by position and watch what each does; the words are checked here.
TEST(TrayMenu, ItemTextsForOrdinaryAndDeveloperAccounts) {
  EXPECT_EQ(texts_of(build_tray_menu(false)),
            (std::vector<std::wstring>{L"Exit Quenby E-mail Sorter", L"", L"About..."}));
  EXPECT_EQ(texts_of(build_tray_menu(true)),
            (std::vector<std::wstring>{L"Exit Quenby E-mail Sorter", L"Crash Quenby E-mail Sorter",
                                       L"", L"About..."}));
}

}  // namespace
}  // namespace sorter::ui
