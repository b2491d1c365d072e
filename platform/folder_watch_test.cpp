#include "platform/folder_watch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/automation_error.h"
#include "tests/support/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::u16;
using testsupport::write_bytes;

constexpr double kHang = 30.0;  // a notification that has not come by then never comes
// Windows sends its notifications from another thread (Wine: its server): a moment for the
// last of them to land before the test looks whether more are pending.
void let_notifications_land() {
#ifdef _WIN32
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
#endif
}

struct Case {
  const char* name;
  bool arrival;
  // What happens in the watched folder; beside is a folder next to it, old.eml is in the
  // watched folder before the watch starts.
  std::function<void(const fs::path& watched, const fs::path& beside)> act;
};

TEST(FolderWatch, FilesArrivingCountAndFilesLeavingDoNot) {
  const std::vector<Case> cases = {
      {"written and closed", true,
       [](const fs::path& w, const fs::path&) { write_bytes(w / "m.eml", {1, 2, 3}); }},
      {"moved in", true,
       [](const fs::path& w, const fs::path& b) {
         write_bytes(b / "m.eml", {1});
         fs::rename(b / "m.eml", w / "m.eml");
       }},
#ifndef _WIN32
      {"linked in", true,
       [](const fs::path& w, const fs::path& b) {
         write_bytes(b / "m.eml", {1});
         fs::create_hard_link(b / "m.eml", w / "m.eml");
       }},
      {"a folder made", false, [](const fs::path& w, const fs::path&) { fs::create_directory(w / "d"); }},
#endif
      {"removed", false, [](const fs::path& w, const fs::path&) { fs::remove(w / "old.eml"); }},
      {"moved away", false,
       [](const fs::path& w, const fs::path& b) { fs::rename(w / "old.eml", b / "old.eml"); }},
      {"read", false,
       [](const fs::path& w, const fs::path&) { (void)testsupport::read_bytes(w / "old.eml"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir watched, beside;
    write_bytes(watched / "old.eml", {9});
    FolderWatch watch(u16(watched.path()));
    EXPECT_FALSE(watch.take_arrivals()) << "nothing happened yet";
    c.act(watched.path(), beside.path());
    // An arrival is waited for; for the others a moment shows what would have come.
    const bool notified = watch.wait(c.arrival ? kHang : 0.3);
    EXPECT_EQ(notified && watch.take_arrivals(), c.arrival);
    EXPECT_TRUE(watch.watching());
  }
}

// However many files arrived, one take answers for all of them, and then nothing is pending.
TEST(FolderWatch, ManyArrivalsAreTakenAtOnce) {
  TempDir dir;
  FolderWatch watch(u16(dir.path()));
  for (int i = 0; i < 200; ++i) write_bytes(dir / ("m" + std::to_string(i) + ".eml"), {1, 2});
  ASSERT_TRUE(watch.wait(kHang));
  let_notifications_land();
  EXPECT_TRUE(watch.take_arrivals());
  EXPECT_FALSE(watch.wait(0));
  EXPECT_FALSE(watch.take_arrivals());
  // The watch goes on: the next file is the next arrival.
  write_bytes(dir / "next.eml", {3});
  ASSERT_TRUE(watch.wait(kHang));
  EXPECT_TRUE(watch.take_arrivals());
}

TEST(FolderWatch, AMissingFolderCannotBeWatched) {
  TempDir dir;
  EXPECT_THROW(FolderWatch(u16(dir / "missing")), AutomationError);
  write_bytes(dir / "file", {1});
  EXPECT_THROW(FolderWatch(u16(dir / "file")), AutomationError);
}

#ifndef _WIN32
// A folder renamed or removed takes its watch with it: a last arrival (a round then shows what
// is at the name), and a new watch is to be made.
TEST(FolderWatch, EndsWithItsFolder) {
  for (const bool removed : {false, true}) {
    SCOPED_TRACE(removed ? "removed" : "renamed");
    TempDir dir;
    fs::create_directory(dir / "MailBank");
    FolderWatch watch(u16(dir / "MailBank"));
    if (removed) {
      fs::remove(dir / "MailBank");
    } else {
      fs::rename(dir / "MailBank", dir / "Old");
    }
    ASSERT_TRUE(watch.wait(kHang));
    EXPECT_TRUE(watch.take_arrivals());
    EXPECT_FALSE(watch.watching());
    if (!removed) {
      write_bytes(dir / "Old" / "m.eml", {1});
      EXPECT_FALSE(watch.take_arrivals()) << "the renamed folder is no longer watched";
    }
  }
}
#endif

}  // namespace
}  // namespace platform
