// The mailbox folders kept from round to round: what changes between two rounds (folders
// renamed, replaced by links, created; names added in another letter case) is seen by the
// next round, the folders kept stay within the budget, and what a crash left in a folder is
// gone before the first round after the start moves anything into it.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "platform/confined_folder.h"
#include "sorter/engine/settings.h"
#include "sorter/engine/open_ahead.h"
#include "sorter/engine/store_folders.h"
#include "sorter/engine/test_store.h"

namespace sorter {
namespace {

using namespace sorter::testing;
using testsupport::read_bytes;
using testsupport::u16;
using testsupport::write_bytes;

class FolderCacheTest : public ::testing::Test {
 protected:
  FolderCacheTest() : round(bound_round(store, log, now, in_process_mail_reader_factory())) {}
  void tick() {
    round->CheckMonitoring();
    round->DoRounds();
  }
  // A round that delivers one e-mail to bob, so that his folders are open and kept after it.
  void warm_up() {
    store.drop_mail("first.eml", u"ann", u"bob");
    tick();
    ASSERT_TRUE(fs::exists(bob / "Inbox" / "first.eml"));
  }
  bool in_drop(const char* name) const { return fs::exists(store.drop() / name); }

  TestStore store;
  double now = kNow;
  EventLog log{[this] { return now; }};
  std::unique_ptr<SortingRound> round;
  const fs::path bob = store.add_mailbox("bob");
};

// Between two rounds bob's mailbox or Inbox is renamed aside and something else put at its
// name. The next round delivers only into a real folder at the name, never into the folder
// kept from before (wherever it went) nor through a link.
TEST_F(FolderCacheTest, FolderChangedBetweenRoundsIsNotWrittenThrough) {
  enum class Put { nothing, new_folder, link };
  struct Case {
    const char* name;
    const char* folder;  // below bob's mailbox; "" for the mailbox itself
    Put put;
    const char* lands;   // where second.eml is then: "new", "drop" or "error"
  };
  const Case cases[] = {
      {"InboxRemoved", "Inbox", Put::nothing, "drop"},
      {"InboxReplacedByAFolder", "Inbox", Put::new_folder, "new"},
      {"MailboxRemoved", "", Put::nothing, "error"},
      {"MailboxReplacedByAFolder", "", Put::new_folder, "new"},
#ifndef _WIN32
      {"InboxReplacedByALink", "Inbox", Put::link, "drop"},
      {"MailboxReplacedByALink", "", Put::link, "error"},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    store.reset();
    store.add_mailbox("bob");
    round = bound_round(store, log, now, in_process_mail_reader_factory());
    warm_up();
    // Aside beside the store, on the same file system: the kept handle would still reach it.
    testsupport::TempDir outside;
    const fs::path at = std::string(c.folder).empty() ? bob : bob / c.folder;
    fs::rename(at, outside / "aside");
    if (c.put == Put::new_folder) fs::create_directories(bob / "Inbox");  // bob's or its own
    if (c.put == Put::link) {
      fs::create_directories(outside / "target" / "Inbox");
      fs::create_directory_symlink(outside / "target", at);
    }
    store.drop_mail("second.eml", u"ann", u"bob");
    tick();
    const fs::path inbox = bob / "Inbox";
    for (const auto& e : fs::recursive_directory_iterator(outside.path())) {
      EXPECT_NE(e.path().filename(), "second.eml") << e.path();
    }
    const std::string lands = c.lands;
    EXPECT_EQ(c.put == Put::new_folder && fs::exists(inbox / "second.eml"), lands == "new");
    EXPECT_EQ(fs::exists(store.drop() / "second.eml"), lands == "drop");
    EXPECT_EQ(fs::exists(store.root() / "Error" / "second.eml"), lands == "error");
  }
}

// A lookup that failed is not kept: a mailbox or an Inbox created between two rounds gets the
// e-mail of the next round.
TEST_F(FolderCacheTest, FoldersCreatedBetweenRoundsReceiveMail) {
  fs::create_directories(store.root() / "MailBox" / "carol");  // no Inbox yet
  store.drop_mail("to-dave.eml", u"ann", u"dave");
  store.drop_mail("to-carol.eml", u"ann", u"carol");
  tick();
  EXPECT_TRUE(fs::exists(store.root() / "Error" / "to-dave.eml"));
  EXPECT_TRUE(in_drop("to-carol.eml"));  // waits for an Inbox
  store.add_mailbox("dave");
  store.add_mailbox("carol");
  store.drop_mail("again-to-dave.eml", u"ann", u"dave");
  tick();
  EXPECT_TRUE(fs::exists(store.root() / "MailBox" / "dave" / "Inbox" / "again-to-dave.eml"));
  EXPECT_TRUE(fs::exists(store.root() / "MailBox" / "carol" / "Inbox" / "to-carol.eml"));
}

// The Inbox's letter-case index lives as long as the kept folder: names others add between two
// rounds, in another letter case, still block a delivery of that name (nothing is put beside
// them or over them), also after so many names that the index is read again; a name removed
// no longer does.
TEST_F(FolderCacheTest, NamesAddedBetweenRoundsInAnotherCaseStillBlock) {
  warm_up();
  const fs::path inbox = bob / "Inbox";
  write_bytes(inbox / "NOTE.eml", {'n'});
  testsupport::TempDir outside;
  write_bytes(outside / "Moved.eml", {'m'});
  fs::rename(outside / "Moved.eml", inbox / "Moved.eml");  // arrives by a rename
  for (int i = 0; i < 300; ++i) {  // more than an index takes in before it reads the folder again
    write_bytes(inbox / ("filler-" + std::to_string(i) + ".eml"), {'f'});
  }
  write_bytes(inbox / "LATE.eml", {'l'});
  store.drop_mail("note.eml", u"ann", u"bob");
  store.drop_mail("moved.EML", u"ann", u"bob");
  store.drop_mail("late.eml", u"ann", u"bob");
  tick();
  for (const char* name : {"note.eml", "moved.EML", "late.eml"}) EXPECT_TRUE(in_drop(name)) << name;
  EXPECT_EQ(read_bytes(inbox / "NOTE.eml"), std::vector<uint8_t>{'n'});
  EXPECT_EQ(read_bytes(inbox / "Moved.eml"), std::vector<uint8_t>{'m'});
  EXPECT_EQ(read_bytes(inbox / "LATE.eml"), std::vector<uint8_t>{'l'});
  EXPECT_EQ(round->last_round().stuck, 3);

  fs::remove(inbox / "NOTE.eml");
  tick();
  EXPECT_FALSE(in_drop("note.eml"));
  EXPECT_TRUE(fs::exists(inbox / "note.eml"));
}

// What a crash left in the folders that mail goes into is gone, or finished, before the first
// round after the start moves anything into them: partial copies, a settings rewrite, a
// claimed source in the drop folder, and whole copies whose source was not yet removed, also
// when the source would now go somewhere else than its copy (monitoring switched on, or the
// recipient's mailbox created after an interrupted move into Error, or the Inbox renamed away
// through the first round and monitoring switched on once it is back).
TEST_F(FolderCacheTest, LeftoversPlantedBeforeTheStartAreGoneBeforeTheFirstDelivery) {
  struct Case {
    const char* name;
    const char* copy_in;  // below the store's root: where the interrupted move went
    bool monitoring;      // in the first round
    bool monitoring_later;
    bool inbox_away;      // through the first round
  };
  const Case cases[] = {
      {"CopyInInbox", "MailBox/bob/Inbox", false, false, false},
      {"CopyInInboxWhileMonitoring", "MailBox/bob/Inbox", true, true, false},
      {"CopyInBufferAfterMonitoring", "MailBox/bob/Buffer", false, false, false},
      {"CopyInErrorBeforeTheMailbox", "Error", false, false, false},
      {"CopyInAnInboxAwayAtFirst", "MailBox/bob/Inbox", false, true, true},
  };
  const std::string tmp = utf8(platform::kTemporaryPrefix);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    store.reset();
    store.add_mailbox("bob");
    // The whole copy, linked to its final name, and its source in the drop folder.
    const auto bytes = read_bytes(store.drop_mail("done.eml", u"ann", u"bob"));
    const fs::path copy_in = store.root() / c.copy_in;
    write_bytes(copy_in / "done.eml", bytes);
    fs::create_hard_link(copy_in / "done.eml", copy_in / (tmp + "4d2-1-0"));
    // A partial copy beside its whole source, the same for the Buffer and Error, a claimed
    // source, and rewrites of Client.ini and Sorter.ini.
    const auto half = read_bytes(store.drop_mail("half.eml", u"ann", u"bob"));
    for (const char* folder : {"MailBox/bob/Inbox", "MailBox/bob/Buffer", "Error"}) {
      write_bytes(store.root() / folder / (tmp + "4d2-2-0"), {bytes[0], bytes[1]});
    }
    const fs::path claimed_path = store.drop_mail("claimed.eml", u"ann", u"bob", u"Claimed");
    const auto claimed = read_bytes(claimed_path);
    fs::rename(claimed_path, store.drop() / (tmp + "claim-00000000000004d2-claimed.eml"));
    write_bytes(bob / (tmp + "4d2-3-0"), {'['});
    write_bytes(store.root() / (tmp + "4d2-4-0"), {'['});
    if (c.monitoring) WriteINI(u16(store.root() / "Sorter.ini"), u"Monitoring", u"value", u"True");

    remove_store_leftovers(store.paths());
    round = bound_round(store, log, now, in_process_mail_reader_factory());
    if (c.inbox_away) fs::rename(bob / "Inbox", bob / "away");
    tick();
    if (c.inbox_away) fs::rename(bob / "away", bob / "Inbox");
    if (c.monitoring_later) WriteINI(u16(store.root() / "Sorter.ini"), u"Monitoring", u"value", u"True");
    tick();
    const fs::path box = bob / (c.monitoring_later ? "Buffer" : "Inbox");
    EXPECT_EQ(read_bytes(box / "half.eml"), half);
    EXPECT_EQ(read_bytes(box / "claimed.eml"), claimed);
    std::vector<std::string> places;
    for (const auto& e : fs::recursive_directory_iterator(store.root())) {
      const std::string name = e.path().filename().string();
      EXPECT_FALSE(platform::is_temporary_name(u16(e.path().filename()))) << e.path();
      if (name == "done.eml") places.push_back(fs::relative(e.path().parent_path(), store.root()).generic_string());
      if (name == "half.eml" || name == "claimed.eml") {
        EXPECT_EQ(e.path().parent_path(), box) << name;
      }
    }
    EXPECT_EQ(places, std::vector<std::string>{c.copy_in});
  }
}

// A second sorter on the store (on another computer) is moving x.eml to bob by copy: its
// source claimed in the drop folder, its copy in bob's Inbox under a temporary name, already
// linked to x.eml or still being written. This sorter's rounds meanwhile open folders for the
// first time (carol's), and bob's Inbox again after a round that found it renamed away; bob
// takes his mail after each round. He gets x.eml once, and a copy still being written is left to
// its writer by a folder swept before (a sweep on its first opening takes it, which fails
// that move and gives its source back).
TEST_F(FolderCacheTest, AnotherSortersMoveInProgressIsDeliveredOnce) {
  struct Case {
    const char* name;
    bool bob_swept_before;  // his folders opened before the other sorter began
    bool copy_linked;
    bool reopen_bob;        // mail for him while his Inbox is away through a round
  };
  const Case cases[] = {
      {"LinkedCopyIntoKeptFolders", true, true, false},
      {"LinkedCopyIntoFoldersFirstOpenedMeanwhile", false, true, true},
      {"CopyBeingWrittenIntoAReopenedInbox", true, false, true},
  };
  const std::string tmp = utf8(platform::kTemporaryPrefix);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    store.reset();
    store.add_mailbox("bob");
    store.add_mailbox("carol");
    remove_store_leftovers(store.paths());
    round = bound_round(store, log, now, in_process_mail_reader_factory());
    const fs::path inbox = bob / "Inbox";
    int received = 0;
    const auto take_mail = [&] {
      std::vector<fs::path> mail;
      for (const auto& e : fs::directory_iterator(inbox)) {
        const std::string name = e.path().filename().string();
        if (name != "timeStamp.dat" && !platform::is_temporary_name(u16(e.path().filename()))) {
          mail.push_back(e.path());
        }
      }
      for (const auto& m : mail) {
        received += m.filename() == "x.eml" ? 1 : 0;
        fs::remove(m);
      }
    };
    if (c.bob_swept_before) warm_up();
    take_mail();

    const auto bytes = store.mail_bytes(u"ann", u"bob", u"Once");
    const fs::path claim = store.drop() / (tmp + "claim-00000000000004d2-x.eml");
    const fs::path copy = inbox / (tmp + "4d2-1-0");
    write_bytes(claim, bytes);
    write_bytes(copy, c.copy_linked ? bytes : std::vector<uint8_t>(bytes.begin(), bytes.begin() + 3));
    if (c.copy_linked) fs::create_hard_link(copy, inbox / "x.eml");

    store.drop_mail("to-carol.eml", u"ann", u"carol");
    if (c.reopen_bob) {
      store.drop_mail("to-bob.eml", u"ann", u"bob");
      fs::rename(inbox, bob / "away");  // to-bob.eml waits for it
    }
    tick();
    if (c.reopen_bob) fs::rename(bob / "away", inbox);
    take_mail();
    tick();
    take_mail();
    // Where the start-up cleans every folder, no round sweeps one.
    EXPECT_EQ(fs::exists(copy),
              c.bob_swept_before || !platform::ConfinedFolder::removes_files_held_open());

    // The other sorter ends its move: a copy still there takes its name, one taken from it
    // fails the move and its source gets its name back; then its claim and temporary name go.
    if (!c.copy_linked) {
      if (fs::exists(copy)) {
        write_bytes(copy, bytes);  // the rest written
        fs::create_hard_link(copy, inbox / "x.eml");
      } else {
        fs::rename(claim, store.drop() / "x.eml");
      }
    }
    fs::remove(claim);
    fs::remove(copy);
    tick();
    take_mail();
    EXPECT_EQ(received, 1);
    EXPECT_EQ(file_count(store.drop()), 0u);
    EXPECT_TRUE(fs::exists(store.root() / "MailBox" / "carol" / "Inbox" / "to-carol.eml"));
  }
}

// However many mailboxes the rounds reach, the folders kept open stay within the budget: in a
// round, after it, and when a later round starts with a smaller budget. A process short of
// handles can still close every folder kept from earlier rounds.
TEST_F(FolderCacheTest, KeptFoldersStayWithinTheBudget) {
  constexpr int kUsers = 40;
  for (int u = 0; u < kUsers; ++u) store.add_mailbox("user" + std::to_string(u));
  const StorePaths paths = store.paths();
  StoreFolders folders(paths);
  // The descriptors of folders below MailBox the process holds (POSIX), to see the count
  // above is what is really open.
  const auto held = [&] {
#ifdef _WIN32
    return folders.open_folders();
#else
    const std::string boxes = fs::canonical(store.root() / "MailBox").string() + "/";
    std::size_t n = 0;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      const std::string target = fs::read_symlink(fd.path(), ec).string();
      n += !ec && target.rfind(boxes, 0) == 0 ? 1 : 0;
    }
    return n;
#endif
  };
  struct Round {
    std::size_t budget;
    bool monitoring;
  };
  for (const Round r : {Round{30, false}, Round{30, true}, Round{7, false}, Round{3, true}}) {
    SCOPED_TRACE(r.budget);
    folders.begin_round(r.budget);
    EXPECT_LE(folders.open_folders(), r.budget);
    EXPECT_LE(held(), r.budget);
    for (int u = 0; u < kUsers; ++u) {
      const auto box = folders.box(u"user" + platform::from_utf8(std::to_string(u)), r.monitoring);
      EXPECT_NE(box.folder, nullptr) << u;
      folders.trim();
      EXPECT_LE(folders.open_folders(), r.budget);
      EXPECT_LE(held(), r.budget);
    }
    folders.end_round();
    EXPECT_LE(held(), r.budget);
    EXPECT_EQ(held(), folders.open_folders());
  }
  folders.begin_round(30);
  folders.shed();
  EXPECT_EQ(folders.open_folders(), 0u);
  EXPECT_EQ(held(), 0u);
}

#ifndef _WIN32
// More mailboxes than the folders kept can hold, in rounds under an open-file limit that is
// lowered after a round that kept many folders: every mailbox gets its e-mail in each round,
// and at each read the process holds no more descriptors than the budget of the limit then in
// force, the files opened ahead and the reserve beside them, well under the limit.
TEST_F(FolderCacheTest, MoreMailboxesThanTheFoldersKeptAllGetTheirMail) {
  constexpr int kUsers = 60;
  for (int u = 0; u < kUsers; ++u) store.add_mailbox("user" + std::to_string(u));
  std::size_t most_held = 0;
  round = bound_round(store, log, now, hooked_reader([&](const std::u16string&) {
    std::size_t n = 0;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) n += fd.exists() ? 1 : 0;
    most_held = std::max(most_held, n);
  }));
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  ASSERT_GE(saved.rlim_cur, rlim_t{1024});
  int round_number = 0;
  for (const rlim_t limit : {rlim_t{1024}, rlim_t{256}, rlim_t{256}, rlim_t{64}}) {
    SCOPED_TRACE(limit);
    ++round_number;
    for (int u = 0; u < kUsers; ++u) {
      const std::string user = "user" + std::to_string(u);
      store.drop_mail(user + "-" + std::to_string(round_number) + ".eml", u"ann",
                      platform::from_utf8(user));
    }
    most_held = 0;
    rlimit lowered = saved;
    lowered.rlim_cur = limit;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    tick();
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(round->last_round().delivered, kUsers);
    EXPECT_EQ(file_count(store.drop()), 0u);
    // The folders kept, the files opened ahead and handed back, and the reserve.
    EXPECT_LE(most_held, StoreFolders::budget_for(limit) + 2 * OpenAhead::depth_for(limit) + 16);
  }
}
#endif

}  // namespace
}  // namespace sorter
