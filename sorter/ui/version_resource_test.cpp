#include "sorter/ui/version_resource.h"

#include <gtest/gtest.h>

namespace sorter::ui {
namespace {

// The test program carries the program's own resource script, so this reads what Sorter.exe
// shows in its about box.
TEST(VersionResource, AboutBoxVersionLineComesFromTheResource) {
  const ProgramVersion version = read_own_version();
  EXPECT_EQ(version.major, 1u);
  EXPECT_EQ(version.minor, 0u);
  EXPECT_EQ(version.revision, 82u);
  EXPECT_EQ(version.comment, L"15th May 2007 (16:40:00)");
  EXPECT_EQ(version_line(version), L"Version 1.0.82 - 15th May 2007 (16:40:00)");
}

}  // namespace
}  // namespace sorter::ui
