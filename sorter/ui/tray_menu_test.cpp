#include "sorter/ui/tray_menu.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sorter::ui {
namespace {

struct Item {
  std::wstring text;
  UINT id;
  bool operator==(const Item&) const = default;
};

std::vector<Item> items_of(HMENU menu) {
  std::vector<Item> items;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t text[128] = {};
    GetMenuStringW(menu, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
    items.push_back({text, GetMenuItemID(menu, i)});
  }
  return items;
}

void PrintTo(const Item& item, std::ostream* os) {
  *os << std::string(item.text.begin(), item.text.end()) << " #" << item.id;
}

TEST(TrayMenu, OrdinaryAccountsSeeExitSeparatorAbout) {
  const UniqueMenu menu = build_tray_menu(false);
  ASSERT_TRUE(menu);
  EXPECT_EQ(items_of(menu.get()),
            (std::vector<Item>{{L"Exit Quenby E-mail Sorter", kMenuExitId},
                               {L"", 0},
                               {L"About...", kMenuAboutId}}));
}

TEST(TrayMenu, DeveloperAccountsAlsoSeeTheImmediateEndAfterExit) {
  const UniqueMenu menu = build_tray_menu(true);
  ASSERT_TRUE(menu);
  const auto items = items_of(menu.get());
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[1], (Item{L"Crash Quenby E-mail Sorter", kMenuCrashId}));
  EXPECT_EQ(items[3].text, L"About...");
}

}  // namespace
}  // namespace sorter::ui
