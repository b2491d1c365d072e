#include "sorter/ui/version_resource.h"

#include <gtest/gtest.h>

#include "sorter/ui/ui_text.h"

namespace sorter::ui {
namespace {

// The test program carries the program's own resource script, so this is the text the about
// box of Sorter.exe shows, built from the version resource the way the menu command builds it.
TEST(VersionResource, AboutBoxShowsTheVersionOfTheProgramsOwnResource) {
  EXPECT_EQ(about_text(read_own_version()),
            std::wstring(L"Quenby E-mail Sorter\rVersion 1.0.82 - 15th May 2007 (16:40:00)\r\r") +
                kAboutCredits + L"\r\r" + kAboutCopyright);
}

}  // namespace
}  // namespace sorter::ui
