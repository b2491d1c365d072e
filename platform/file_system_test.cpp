#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "platform/automation_error.h"
#include "platform/confined_folder.h"
#include "platform/environment.h"
#include "platform/utf.h"
#include "platform/instance_guard.h"
#include "tests/support/error_of.h"
#include "tests/support/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using testsupport::error_of;
using testsupport::read_bytes;
using testsupport::u16;
using testsupport::write_bytes;

std::string utf8(std::u16string_view s) { return to_utf8(s); }

// The names in a folder.
std::set<std::string> names_in(const fs::path& folder) {
  std::set<std::string> found;
  for (const auto& e : fs::directory_iterator(folder)) found.insert(e.path().filename().string());
  return found;
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

// Two callers take the same file at the same instant, by deleting it or by moving it to
// folders of their own: exactly one is told it succeeded, the other finds the file gone.
TEST(DeleteForced, OfTwoCallersRacingForAFileExactlyOneSucceeds) {
  testsupport::TempDir dir;
  fs::create_directories(dir / "drop");
  fs::create_directories(dir / "a");
  fs::create_directories(dir / "b");
  const ConfinedFolder drop = ConfinedFolder::open(u16(dir / "drop"));
  const ConfinedFolder targets[] = {ConfinedFolder::open(u16(dir / "a")),
                                    ConfinedFolder::open(u16(dir / "b"))};
  for (int i = 0; i < 60; ++i) {
    const bool moving = i % 2 == 1;
    const std::string name = "m" + std::to_string(i) + ".eml";
    write_bytes(dir / "drop" / name, {uint8_t(i)});
    std::atomic<int> ready{0};
    int errors[2] = {-1, -1};
    const auto take = [&](int k) {
      ++ready;
      while (ready.load() < 2) {
      }
      errors[k] = error_of([&] {
        if (moving) {
          drop.move_file(u16(name), targets[k], u16(name));
        } else {
          delete_file_forced(u16(dir / "drop" / name));
        }
      });
    };
    std::thread other(take, 1);
    take(0);
    other.join();
    SCOPED_TRACE(name);
    EXPECT_EQ(std::multiset<int>(errors, errors + 2),
              (std::multiset<int>{0, errnum::kFileNotFound}));
    EXPECT_FALSE(fs::exists(dir / "drop" / name));
    if (moving) EXPECT_NE(fs::exists(dir / "a" / name), fs::exists(dir / "b" / name));
  }
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
#ifndef _WIN32
  fs::create_symlink(dir / "log", dir / "linked.log");  // never appended through
  EXPECT_EQ(error_of([&] { append_to_file(u16(dir / "linked.log"), "x"); }), errnum::kPathFileAccess);
  EXPECT_EQ(read_bytes(dir / "log"), (std::vector<uint8_t>{'a', 'b', 'c'}));
#endif
}

// Links below a confined folder are refused; the folder's own path may hold links.
TEST(ConfinedFolder, NeverGoesThroughALinkBelowIt) {
  testsupport::TempDir dir;
  fs::create_directories(dir / "store" / "sub");
  fs::create_directories(dir / "outside");
  write_bytes(dir / "outside" / "secret", {7});
#ifdef _WIN32
  // A junction, made by the system's shell. Wine 8 can make none (and shows links on the host
  // as plain folders): the link cases then run on Windows only.
  const std::string cmd = "cmd /c mklink /J \"" + (dir / "store" / "jump").string() + "\" \"" +
                          (dir / "outside").string() + "\" >NUL 2>NUL";
  std::system(cmd.c_str());
  const bool have_link = fs::exists(dir / "store" / "jump");
#else
  const bool have_link = true;
  fs::create_directory_symlink(dir / "outside", dir / "store" / "jump");
  fs::create_symlink(dir / "outside" / "secret", dir / "store" / "file");
  fs::create_directory_symlink(dir / "store", dir / "admin-link");
#endif
  const auto store = ConfinedFolder::open(u16(dir / "store"));
  const auto link_error = [&](const std::function<void()>& f) {
    try {
      f();
    } catch (const AutomationError& e) {
      return e.number() == errnum::kPathFileAccess && e.description() == kLinkRefusedText;
    }
    return false;
  };
  if (have_link) {
    ASSERT_TRUE(store.find(u"JUMP").has_value());
    EXPECT_EQ(store.find(u"JUMP")->kind, EntryKind::link);
    EXPECT_EQ(store.find(u"JUMP")->name, u"jump");
    EXPECT_TRUE(link_error([&] { store.folder(u"jump"); }));
    write_bytes(dir / "store" / "m.eml", {1});
    EXPECT_TRUE(link_error([&] { store.move_file(u"m.eml", store.folder(u"jump"), u"m.eml"); }));
    EXPECT_FALSE(fs::exists(dir / "outside" / "m.eml"));
  }
  EXPECT_EQ(store.find(u"SUB")->kind, EntryKind::folder);
  const auto sub = store.folder(u"SUB");
  EXPECT_EQ(sub.path(), store.child_path(u"sub"));
  EXPECT_EQ(error_of([&] { store.folder(u"none"); }), errnum::kPathNotFound);
  for (const std::u16string bad : {u"", u".", u"..", u"a/b"}) {
    EXPECT_EQ(error_of([&] { store.find(bad); }), errnum::kBadFileName);
  }
#ifndef _WIN32
  EXPECT_TRUE(link_error([&] { store.open_file(u"file"); }));
  EXPECT_EQ(read_bytes(dir / "outside" / "secret"), (std::vector<uint8_t>{7}));
  const auto through_admin_link = ConfinedFolder::open(u16(dir / "admin-link"));
  EXPECT_EQ(through_admin_link.find(u"sub")->kind, EntryKind::folder);
  EXPECT_EQ(error_of([&] { store.move_file(u"m.eml", store, u"file"); }), errnum::kFileExists);
  store.delete_file(u"file");  // the link goes, not what it names
  EXPECT_FALSE(fs::is_symlink(dir / "store" / "file"));
  EXPECT_TRUE(fs::exists(dir / "outside" / "secret"));
#endif
  auto file = sub.open_file(u"stamp.dat");  // created when missing
  file.write_at_start(std::vector<uint8_t>{1, 2});
  file.close();
  EXPECT_EQ(read_bytes(dir / "store" / "sub" / "stamp.dat"), (std::vector<uint8_t>{1, 2}));
}

// Every way of moving: the rename, and the two fallbacks forced here: link and unlink where a
// rename cannot refuse to replace, and the copy that moves across file systems.
TEST(ConfinedFolder, MovesNeverReplaceAnyLetterCaseAndLeaveOneCopy) {
  for (const MoveMethod method : {MoveMethod::automatic, MoveMethod::link, MoveMethod::copy,
                                  MoveMethod::copy_checked_rename}) {
    SCOPED_TRACE(static_cast<int>(method));
    testsupport::TempDir dir;
    fs::create_directories(dir / "drop");
    fs::create_directories(dir / "to");
    const auto drop = ConfinedFolder::open(u16(dir / "drop"));
    const auto to = ConfinedFolder::open(u16(dir / "to"));
    std::vector<uint8_t> big(200000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
    write_bytes(dir / "drop" / "a.eml", big);
    fs::permissions(dir / "drop" / "a.eml", fs::perms::owner_read);  // read-only moves too
    write_bytes(dir / "drop" / "b.eml", {2});
    write_bytes(dir / "to" / "B.EML", {9});

    drop.move_file(u"a.eml", to, u"a.eml", method);
    EXPECT_FALSE(fs::exists(dir / "drop" / "a.eml")) << "the source is left behind";
    EXPECT_EQ(read_bytes(dir / "to" / "a.eml"), big);
    EXPECT_EQ(error_of([&] { drop.move_file(u"b.eml", to, u"b.eml", method); }),
              errnum::kFileExists);
    EXPECT_EQ(read_bytes(dir / "drop" / "b.eml"), (std::vector<uint8_t>{2}));
    EXPECT_EQ(read_bytes(dir / "to" / "B.EML"), (std::vector<uint8_t>{9}));
    // Names someone else adds while the handle lives, in another case, are taken too: created,
    // renamed in, and one removed again (its name is free once more).
    write_bytes(dir / "drop" / "c.eml", {3});
    write_bytes(dir / "to" / "C.eml", {8});
    write_bytes(dir / "elsewhere.tmp", {7});
    fs::rename(dir / "elsewhere.tmp", dir / "to" / u"\u00C9T\u00E9.EML");
    write_bytes(dir / "drop" / u"\u00E9t\u00C9.eml", {4});
    EXPECT_EQ(error_of([&] { drop.move_file(u"c.eml", to, u"c.eml", method); }),
              errnum::kFileExists);
    EXPECT_EQ(error_of([&] {
                drop.move_file(u"\u00E9t\u00C9.eml", to, u"\u00E9t\u00C9.eml", method);
              }),
              errnum::kFileExists);
    EXPECT_EQ(read_bytes(dir / "to" / "C.eml"), (std::vector<uint8_t>{8}));
    fs::remove(dir / "to" / "C.eml");
    drop.move_file(u"c.eml", to, u"c.eml", method);
    fs::remove(dir / "to" / "c.eml");
    fs::remove(dir / "to" / u"\u00C9T\u00E9.EML");
    fs::remove(dir / "drop" / u"\u00E9t\u00C9.eml");
    EXPECT_EQ(error_of([&] { drop.move_file(u"gone.eml", to, u"gone.eml", method); }),
              errnum::kFileNotFound);
    EXPECT_EQ(error_of([&] {
                drop.move_file(u"b.eml", to, std::u16string(kTemporaryPrefix) + u"x", method);
              }),
              errnum::kBadFileName);
    EXPECT_EQ(names_in(dir / "to"), (std::set<std::string>{"B.EML", "a.eml"}));
  }
}

// Two sorters take the same files at the same instant, each through handles of its own, by the
// copying move whose last step is a rename after a check (file systems with neither hard links
// nor a rename that refuses to replace): every file ends up once in the target, whole.
TEST(ConfinedFolder, TwoMoversByCopyNeverLoseNorDoubleAFile) {
#ifdef _WIN32
  constexpr int kFiles = 40;  // file operations under Wine are slow
#else
  constexpr int kFiles = 300;
#endif
  testsupport::TempDir dir;
  fs::create_directories(dir / "drop");
  fs::create_directories(dir / "to");
  std::vector<std::vector<uint8_t>> contents;
  for (int i = 0; i < kFiles; ++i) {
    contents.emplace_back(4096 + i, static_cast<uint8_t>(i));
    write_bytes(dir / "drop" / ("m" + std::to_string(i) + ".eml"), contents.back());
  }
  std::atomic<int> arrived{0};
  std::vector<int> moved(kFiles, 0);
  std::mutex failures_mutex;
  std::multiset<int> failures;
  const auto mover = [&] {
    const auto drop = ConfinedFolder::open(u16(dir / "drop"));
    const auto to = ConfinedFolder::open(u16(dir / "to"));
    for (int i = 0; i < kFiles; ++i) {
      // Both start each file together.
      const int ticket = ++arrived;
      while (arrived.load() < (ticket + 1) / 2 * 2) {
      }
      const std::u16string name = u"m" + u16(std::to_string(i)) + u".eml";
      const int error =
          error_of([&] { drop.move_file(name, to, name, MoveMethod::copy_checked_rename); });
      const std::lock_guard lock(failures_mutex);
      if (error == 0) {
        ++moved[i];
      } else {
        failures.insert(error);
      }
    }
  };
  std::thread other(mover);
  mover();
  other.join();
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "m" + std::to_string(i) + ".eml";
    SCOPED_TRACE(name);
    EXPECT_EQ(moved[i], 1);
    EXPECT_FALSE(fs::exists(dir / "drop" / name));
    EXPECT_TRUE(read_bytes(dir / "to" / name) == contents[i]) << "lost or damaged";
  }
  for (const int error : failures) {
    EXPECT_TRUE(error == errnum::kFileNotFound || error == errnum::kFileExists) << error;
  }
  EXPECT_TRUE(fs::is_empty(dir / "drop"));
  EXPECT_EQ(names_in(dir / "to").size(), std::size_t{kFiles}) << "a temporary file is left";
}

#ifndef _WIN32
// A sorter that starts on the store while another one moves files by copy cleans up around the
// moves in progress: every file ends up once, in the drop folder or in the target.
TEST(ConfinedFolder, AStartUpCleanUpDuringMovesByCopyLosesNothing) {
  constexpr int kFiles = 300;
  testsupport::TempDir dir;
  fs::create_directories(dir / "drop");
  fs::create_directories(dir / "to");
  for (int i = 0; i < kFiles; ++i) {
    write_bytes(dir / "drop" / ("m" + std::to_string(i) + ".eml"), {uint8_t(i), uint8_t(i >> 8)});
  }
  std::atomic<bool> done{false};
  std::thread starting([&] {
    const auto to = ConfinedFolder::open(u16(dir / "to"));
    while (!done) {
      const auto drop = ConfinedFolder::open(u16(dir / "drop"));
      to.remove_leftovers(&drop);
    }
  });
  {
    const auto drop = ConfinedFolder::open(u16(dir / "drop"));
    const auto to = ConfinedFolder::open(u16(dir / "to"));
    for (int i = 0; i < kFiles; ++i) {
      const std::u16string name = u"m" + u16(std::to_string(i)) + u".eml";
      error_of([&] { drop.move_file(name, to, name, MoveMethod::copy); });
    }
  }
  done = true;
  starting.join();
  const auto drop = ConfinedFolder::open(u16(dir / "drop"));
  ConfinedFolder::open(u16(dir / "to")).remove_leftovers(&drop);
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "m" + std::to_string(i) + ".eml";
    SCOPED_TRACE(name);
    const std::vector<uint8_t> bytes{uint8_t(i), uint8_t(i >> 8)};
    const bool in_drop = fs::exists(dir / "drop" / name), in_to = fs::exists(dir / "to" / name);
    EXPECT_NE(in_drop, in_to);
    EXPECT_EQ(read_bytes(dir / (in_drop ? "drop" : "to") / name), bytes);
  }
}

// What a crash leaves at each step of a copying move, and the next start cleaning it up.
TEST(ConfinedFolder, LeftoversOfInterruptedMovesAreRemovedOrFinished) {
  testsupport::TempDir dir;
  fs::create_directories(dir / "drop");
  fs::create_directories(dir / "to");
  const std::string tmp = utf8(kTemporaryPrefix);
  // Killed while copying: a partial copy, the source whole.
  write_bytes(dir / "drop" / "a.eml", {1, 2, 3});
  write_bytes(dir / "to" / (tmp + "1"), {1});
  // Killed after linking the copy to its name: the source still in the drop folder.
  write_bytes(dir / "drop" / "b.eml", {4, 5});
  write_bytes(dir / "to" / (tmp + "2"), {4, 5});
  fs::create_hard_link(dir / "to" / (tmp + "2"), dir / "to" / "b.eml");
  // Killed after removing the source: only the temporary name is left over.
  write_bytes(dir / "to" / (tmp + "3"), {6});
  fs::create_hard_link(dir / "to" / (tmp + "3"), dir / "to" / "c.eml");
  // A different file under the delivered name in the drop folder is somebody else's.
  write_bytes(dir / "to" / (tmp + "4"), {7});
  fs::create_hard_link(dir / "to" / (tmp + "4"), dir / "to" / "d.eml");
  write_bytes(dir / "drop" / "d.eml", {8});
  // Killed after linking the copy to its name while the source was claimed.
  write_bytes(dir / "drop" / (tmp + "claim-0123456789abcdef-e.eml"), {9});
  write_bytes(dir / "to" / (tmp + "5"), {9});
  fs::create_hard_link(dir / "to" / (tmp + "5"), dir / "to" / "e.eml");

  const auto drop = ConfinedFolder::open(u16(dir / "drop"));
  const auto to = ConfinedFolder::open(u16(dir / "to"));
  EXPECT_EQ(to.remove_leftovers(&drop), 6);
  EXPECT_EQ(names_in(dir / "to"), (std::set<std::string>{"b.eml", "c.eml", "d.eml", "e.eml"}));
  EXPECT_EQ(names_in(dir / "drop"), (std::set<std::string>{"a.eml", "d.eml"}));
  EXPECT_EQ(read_bytes(dir / "to" / "b.eml"), (std::vector<uint8_t>{4, 5}));
  EXPECT_EQ(read_bytes(dir / "to" / "e.eml"), (std::vector<uint8_t>{9}));
  EXPECT_EQ(read_bytes(dir / "drop" / "d.eml"), (std::vector<uint8_t>{8}));
  EXPECT_EQ(to.remove_leftovers(&drop), 0);
}
#endif

// A claimed source holds the only copy of its file: the start-up gives it its name back, in
// the source folder and in the folder cleaned (moves out of it), unless a new file took the
// name meanwhile; names that only look like claims are leftovers like any other.
TEST(ConfinedFolder, ClaimsOfInterruptedMovesGetTheirNamesBack) {
  testsupport::TempDir dir;
  fs::create_directories(dir / "drop");
  fs::create_directories(dir / "to");
  const std::string claim = utf8(kTemporaryPrefix) + "claim-0123456789abcdef-";
  write_bytes(dir / "drop" / (claim + "e.eml"), {1});
  write_bytes(dir / "drop" / (claim + "g.eml"), {2});
  write_bytes(dir / "drop" / "g.eml", {3});
  write_bytes(dir / "to" / (claim + "h.eml"), {4});
  write_bytes(dir / "to" / (utf8(kTemporaryPrefix) + "claim-short-x.eml"), {5});
  const auto drop = ConfinedFolder::open(u16(dir / "drop"));
  const auto to = ConfinedFolder::open(u16(dir / "to"));
  EXPECT_EQ(to.remove_leftovers(&drop), 4);
  EXPECT_EQ(names_in(dir / "drop"), (std::set<std::string>{"e.eml", "g.eml", claim + "g.eml"}));
  EXPECT_EQ(names_in(dir / "to"), (std::set<std::string>{"h.eml"}));
  EXPECT_EQ(read_bytes(dir / "drop" / "e.eml"), (std::vector<uint8_t>{1}));
  EXPECT_EQ(read_bytes(dir / "drop" / "g.eml"), (std::vector<uint8_t>{3}));
  EXPECT_EQ(read_bytes(dir / "to" / "h.eml"), (std::vector<uint8_t>{4}));
  EXPECT_EQ(to.remove_leftovers(&drop), 0);  // the source folder's claims once per handle
  const auto drop_again = ConfinedFolder::open(u16(dir / "drop"));
  EXPECT_EQ(to.remove_leftovers(&drop_again), 1);  // the next start tries again
  EXPECT_EQ(read_bytes(dir / "drop" / (claim + "g.eml")), (std::vector<uint8_t>{2}));
}

// One guard per folder, whatever path names it; folders whose names differ only in
// punctuation are two; nothing is left in the folder or anywhere else.
TEST(Process, FolderGuardIsPerFolderAndLeavesNothing) {
  testsupport::TempDir dir;
  fs::create_directories(dir / "store.a");
  fs::create_directories(dir / "store-a");
  {
    auto first = InstanceGuard::for_folder(u16(dir / "store.a"));
    EXPECT_FALSE(first.another_copy_running());
    auto other_store = InstanceGuard::for_folder(u16(dir / "store-a"));
    EXPECT_FALSE(other_store.another_copy_running());
    auto again = InstanceGuard::for_folder(u16(dir / "store.a" / ".." / "store.a"));
    EXPECT_TRUE(again.another_copy_running());
#ifndef _WIN32
    fs::create_directory_symlink(dir / "store.a", dir / "linked");
    EXPECT_TRUE(InstanceGuard::for_folder(u16(dir / "linked")).another_copy_running());
    fs::remove(dir / "linked");
#endif
  }
  EXPECT_FALSE(InstanceGuard::for_folder(u16(dir / "store.a")).another_copy_running());
  EXPECT_TRUE(fs::is_empty(dir / "store.a"));
  EXPECT_TRUE(fs::is_empty(dir / "store-a"));
}

#ifndef _WIN32
// A watcher sees whether a folder's guard is held, and asking, however often, never makes a
// guard made at the same moment find another copy.
TEST(Process, FolderClaimIsSeenWithoutStandingInAGuardsWay) {
  testsupport::TempDir dir;
  const std::u16string store = u16(dir.path());
  EXPECT_EQ(InstanceGuard::folder_claimed(store), false);
  {
    const auto guard = InstanceGuard::for_folder(store);
    EXPECT_EQ(InstanceGuard::folder_claimed(store), true);
  }
  EXPECT_EQ(InstanceGuard::folder_claimed(store), false);
  EXPECT_EQ(InstanceGuard::folder_claimed(u16(dir / "missing")), std::nullopt);

  std::atomic<bool> done{false};
  std::thread watcher([&] {
    while (!done) (void)InstanceGuard::folder_claimed(store);
  });
  int refused = 0;
  for (int i = 0; i < 5000; ++i) refused += InstanceGuard::for_folder(store).another_copy_running();
  done = true;
  watcher.join();
  EXPECT_EQ(refused, 0);
}
#endif

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
