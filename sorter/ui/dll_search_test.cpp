#include "sorter/ui/dll_search.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

struct Library {
  explicit Library(const wchar_t* name) : module(LoadLibraryW(name)), error(GetLastError()) {}
  ~Library() {
    if (module) FreeLibrary(module);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  HMODULE module;
  DWORD error;
};

// Before: the planted library beside the program is what a bare name finds (so the test can see
// the difference). After: a bare name finds only System32's libraries; a full path still loads.
TEST(DllSearch, APlantedLibraryBesideTheProgramIsNoLongerFound) {
  {
    const Library planted(L"dll_search_plant.dll");
    ASSERT_NE(planted.module, nullptr) << "the planted library is not beside the test program";
    ASSERT_NE(GetProcAddress(planted.module, "dll_search_plant_marker"), nullptr);
  }
  ASSERT_EQ(GetModuleHandleW(L"dll_search_plant.dll"), nullptr);

  sorter::ui::restrict_dll_search();

  const Library planted(L"dll_search_plant.dll");
  EXPECT_EQ(planted.module, nullptr);
  EXPECT_EQ(planted.error, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  const Library system(L"version.dll");
  EXPECT_NE(system.module, nullptr) << "System32 is no longer searched: error " << system.error;
  wchar_t own[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  ASSERT_GT(length, 0u);
  std::wstring beside(own, length);
  beside = beside.substr(0, beside.find_last_of(L'\\') + 1) + L"dll_search_plant.dll";
  const Library by_path(beside.c_str());
  EXPECT_NE(by_path.module, nullptr) << "a full path is refused: error " << by_path.error;
}

}  // namespace
