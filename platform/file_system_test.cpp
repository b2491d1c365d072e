#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/automation_error.h"
#include "platform/environment.h"
#include "platform/instance_guard.h"
#include "tests/support/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using testsupport::read_bytes;
using testsupport::u16;
using testsupport::write_bytes;

int error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

TEST(MoveNoReplace, MovesAndNeverReplaces) {
  testsupport::TempDir dir;
  fs::create_directories(dir / "to");
  write_bytes(dir / "a.eml", {1, 2});
  write_bytes(dir / "to" / "a.eml", {9});
  EXPECT_EQ(error_of([&] { move_file_no_replace(u16(dir / "a.eml"), u16(dir / "to" / "a.eml")); }),
            errnum::kFileExists);
  EXPECT_EQ(read_bytes(dir / "a.eml"), (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(read_bytes(dir / "to" / "a.eml"), (std::vector<uint8_t>{9}));

  EXPECT_EQ(error_of([&] { move_file_no_replace(u16(dir / "a.eml"), u16(dir / "no" / "a.eml")); }),
            errnum::kPathNotFound);
  EXPECT_TRUE(fs::exists(dir / "a.eml"));

  EXPECT_EQ(error_of([&] { move_file_no_replace(u16(dir / "a.eml"), u16(dir / "to" / "b.eml")); }),
            0);
  EXPECT_FALSE(fs::exists(dir / "a.eml"));
  EXPECT_EQ(read_bytes(dir / "to" / "b.eml"), (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(error_of([&] { move_file_no_replace(u16(dir / "a.eml"), u16(dir / "c.eml")); }),
            errnum::kFileNotFound);
}

TEST(DeleteForced, DeletesReadOnlyFiles) {
  testsupport::TempDir dir;
  write_bytes(dir / "ro.eml", {1});
  fs::permissions(dir / "ro.eml", fs::perms::owner_read);
  EXPECT_EQ(error_of([&] { delete_file_forced(u16(dir / "ro.eml")); }), 0);
  EXPECT_FALSE(fs::exists(dir / "ro.eml"));
  EXPECT_EQ(error_of([&] { delete_file_forced(u16(dir / "ro.eml")); }), errnum::kFileNotFound);
}

TEST(Folders, CreateTestAndEnumerate) {
  testsupport::TempDir dir;
  const std::u16string drop = u16(dir / "MailBank");
  EXPECT_FALSE(folder_exists(drop));
  create_folder(drop);
  EXPECT_TRUE(folder_exists(drop));
  EXPECT_EQ(error_of([&] { create_folder(u16(dir / "no" / "x")); }), errnum::kPathNotFound);
  write_bytes(dir / "MailBank" / "m.eml", {});
  fs::create_directories(dir / "MailBank" / "sub");
  EXPECT_EQ(entry_kind(u16(dir / "MailBank" / "m.eml")), EntryKind::file);
  std::map<std::u16string, EntryKind> seen;
  FolderReader reader(drop);
  while (auto e = reader.next()) seen[e->name] = e->kind;
  EXPECT_EQ(seen, (std::map<std::u16string, EntryKind>{{u"m.eml", EntryKind::file},
                                                        {u"sub", EntryKind::folder}}));
  EXPECT_EQ(error_of([&] { FolderReader missing(u16(dir / "none")); }), errnum::kPathNotFound);
}

TEST(Names, ResolvedWithoutRegardToCase) {
  testsupport::TempDir dir;
  fs::create_directories(dir / "MailBox" / "Bob" / "inbox");
  write_bytes(dir / "Sorter.ini", {});
  const auto resolved = [&](const fs::path& p) { return resolve_ignoring_case(u16(p)); };
  EXPECT_EQ(entry_kind(resolved(dir / "mailbox" / "BOB" / "Inbox")), EntryKind::folder);
  EXPECT_EQ(entry_kind(resolved(dir / "sorter.ini")), EntryKind::file);
  EXPECT_EQ(entry_kind(resolved(dir / "MAILBOX" / "nobody" / "Inbox")), EntryKind::none);
  EXPECT_EQ(fold_case(u"MailBox \u00C9\u00D7"), u"mailbox \u00E9\u00D7");
#ifndef _WIN32
  EXPECT_EQ(resolved(dir / "mailbox" / "BOB" / "Inbox" / "new.eml"),
            u16(dir / "MailBox" / "Bob" / "inbox" / "new.eml"));
  EXPECT_EQ(resolved(dir / "MAILBOX" / "nobody" / "Inbox"), u16(dir / "MailBox" / "nobody" / "Inbox"));
#endif
}

TEST(Files, AppendAndAge) {
  testsupport::TempDir dir;
  append_to_file(u16(dir / "log"), "ab");
  append_to_file(u16(dir / "log"), "c");
  EXPECT_EQ(read_bytes(dir / "log"), (std::vector<uint8_t>{'a', 'b', 'c'}));
  const auto age = seconds_since_last_write(u16(dir / "log"));
  ASSERT_TRUE(age.has_value());
  EXPECT_LT(*age, 60.0);
  fs::last_write_time(dir / "log", fs::file_time_type::clock::now() - std::chrono::hours(2));
  EXPECT_GT(*seconds_since_last_write(u16(dir / "log")), 3600.0);
  EXPECT_FALSE(seconds_since_last_write(u16(dir / "missing")).has_value());
  EXPECT_NE(error_of([&] { append_to_file(u16(dir / "no" / "log"), "x"); }), 0);
}

TEST(Process, InstanceGuardAndEnvironment) {
  {
    InstanceGuard first(u"CorvaneEngineTest");
    EXPECT_FALSE(first.another_copy_running());
    InstanceGuard second(u"CorvaneEngineTest");
    EXPECT_TRUE(second.another_copy_running());
  }
  InstanceGuard after(u"CorvaneEngineTest");
  EXPECT_FALSE(after.another_copy_running());
  EXPECT_FALSE(environment_variable(u"CORVANE_SURELY_UNSET_VARIABLE").has_value());
  EXPECT_TRUE(folder_exists(executable_folder()));
}

}  // namespace
}  // namespace platform
