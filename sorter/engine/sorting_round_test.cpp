#include "sorter/engine/sorting_round.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/other_owner.h"
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include "sorter/engine/repeat_filter.h"
#include "sorter/engine/settings.h"
#include "sorter/engine/test_store.h"
#include "sorter/engine/time_stamp.h"

namespace sorter {
namespace {

using namespace sorter::testing;
using std::chrono::seconds;
using testsupport::read_bytes;
using testsupport::u16;
using testsupport::write_bytes;

// One store with its log and a round bound to it; the options are always given (kNoSettling
// unless a test states others), the reader's creations counted.
class RoundTest : public ::testing::Test {
 protected:
  RoundTest() { use(in_process_mail_reader_factory()); }
  void use(MailReaderFactory factory, RoundOptions options = kNoSettling) {
    round = bound_round(store, log, now, [this, factory] {
      ++factory_calls;
      return factory();
    }, options);
  }
  void use(RoundOptions options) { use(in_process_mail_reader_factory(), options); }
  // An empty store and a new round on it, for the next row of a table.
  void fresh(MailReaderFactory factory) {
    store.reset();
    use(std::move(factory));
  }
  // Runs action on the drop folder when the reader is first asked for a file, then reads.
  void meddle(HookedReader::Hook action) {
    use(hooked_reader([action](const std::u16string& path) mutable {
      if (action) std::exchange(action, nullptr)(path);
    }));
  }
  void tick() {
    round->CheckMonitoring();
    round->DoRounds([this] { ++yields; });
  }
  void set_monitoring(const std::string& value) {
    WriteINI(u16(store.root() / "Sorter.ini"), u"Monitoring", u"value", platform::from_utf8(value));
  }
  double stamp_in(const fs::path& folder) const {
    const auto bytes = read_bytes(folder / "timeStamp.dat");
    double value = 0;
    if (bytes.size() >= 8) std::memcpy(&value, bytes.data(), 8);  // tests run little-endian
    return value;
  }
  fs::path error_folder() const { return store.root() / "Error"; }

  TestStore store;
  double now = kNow;
  EventLog log{[this] { return now; }};
  std::unique_ptr<SortingRound> round;
  int factory_calls = 0;
  int yields = 0;
};

// The reader is made at the first e-mail file only, and kept across rounds.
TEST_F(RoundTest, ReaderCreatedOnceAtFirstFileAndKeptAcrossRounds) {
  fs::create_directories(store.drop() / "sub");  // folders in the drop folder are left alone
  store.drop_mail("sub/inner.eml", u"ann", u"bob");
  // Another sorter's move in progress, which the start-up clean-up finishes if it is left.
  store.add_mailbox("bob");
  store.drop_mail(".~corvane-part-claim-0123456789abcdef-m.eml", u"ann", u"bob");
  tick();
  EXPECT_EQ(factory_calls, 0);
  EXPECT_EQ(yields, 1);
  EXPECT_TRUE(store.log_lines().empty());
  EXPECT_TRUE(fs::exists(store.drop() / "sub" / "inner.eml"));
  EXPECT_TRUE(fs::exists(store.drop() / ".~corvane-part-claim-0123456789abcdef-m.eml"));
  fs::remove(store.drop() / ".~corvane-part-claim-0123456789abcdef-m.eml");
  store.drop_mail("a.eml", u"ann", u"bob");
  store.drop_mail("b.eml", u"ann", u"bob");
  tick();
  store.drop_mail("c.eml", u"ann", u"bob");
  tick();
  EXPECT_EQ(factory_calls, 1);
  EXPECT_EQ(file_count(store.root() / "MailBox" / "bob" / "Inbox"), 4u);  // 3 mails + stamp
}

// Monitoring is read at each tick: a value that is no boolean switches it off again.
TEST_F(RoundTest, DeliversIntoInboxThenIntoBufferWhileMonitoringIsOn) {
  const fs::path bob = store.add_mailbox("bob");
  store.drop_mail("m1.eml", u"ann", u"bob");
  tick();
  EXPECT_TRUE(fs::exists(bob / "Inbox" / "m1.eml"));
  EXPECT_EQ(file_count(store.drop()), 0u);
  EXPECT_EQ(fs::file_size(bob / "Inbox" / "timeStamp.dat"), 8u);
  EXPECT_EQ(stamp_in(bob / "Inbox"), kNow);
  EXPECT_FALSE(fs::exists(bob / "Buffer" / "timeStamp.dat"));
  EXPECT_TRUE(store.log_lines().empty());
  EXPECT_EQ(round->last_round().delivered, 1);
  set_monitoring("tRuE");
  now += 1.0 / 86400;
  store.drop_mail("m2.eml", u"ann", u"bob");
  tick();
  EXPECT_TRUE(round->monitoring());
  EXPECT_TRUE(fs::exists(bob / "Buffer" / "m2.eml"));
  EXPECT_EQ(stamp_in(bob / "Inbox"), kNow);
  EXPECT_EQ(stamp_in(bob / "Buffer"), now);
  set_monitoring("yes");
  store.drop_mail("m3.eml", u"ann", u"bob");
  tick();
  EXPECT_TRUE(fs::exists(bob / "Inbox" / "m3.eml"));
}

// A round that outlasts a second stamps again for the deliveries of the later second, so that
// a client polling timeStamp.dat does not miss them; the stamp is rewritten in place, a longer
// file keeping its tail.
TEST_F(RoundTest, RoundLongerThanASecondStampsAgainInTheLaterSecond) {
  use(hooked_reader([this](const std::u16string&) { now += 1.0 / 86400; }));  // a second a file
  const fs::path bob = store.add_mailbox("bob");
  write_bytes(bob / "Inbox" / "timeStamp.dat", std::vector<uint8_t>(12, 0xEE));
  store.drop_mail("a.eml", u"ann", u"bob");
  store.drop_mail("b.eml", u"ann", u"bob");
  tick();
  EXPECT_EQ(round->last_round().delivered, 2);
  EXPECT_EQ(stamp_in(bob / "Inbox"), now);
  EXPECT_GT(now, kNow + 1.5 / 86400);
  const auto bytes = read_bytes(bob / "Inbox" / "timeStamp.dat");
  ASSERT_EQ(bytes.size(), 12u);
  const auto expected = time_stamp_bytes(now);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin()));
  EXPECT_EQ(bytes[8], 0xEE);
}

// Where each e-mail ends by its header: the recipient's Inbox (the mailbox found without regard
// to letter case but with the name's blanks), Error for a recipient without mailbox or a name
// that could leave MailBox (the sender's own Client.ini flagged, its other lines kept), deleted
// without sender or recipient (read-only or not), Error for an unreadable file.
TEST_F(RoundTest, EachMailEndsWhereItsHeaderSendsIt) {
  struct Row {
    std::u16string from, to;
    const char* ends;  // the folder below the store, or nullptr: deleted
    std::string entry;
  };
  const std::string none = "Warning  Email sent to non-existant recipient!  From: ";
  const std::string no_from = "Warning  Email sent with no sender information!";
  const std::string no_to = "Warning  Email sent with no recipient information!  From: ";
  std::vector<Row> rows = {
      {u"ann", u"bob", "MailBox/bob/Inbox", ""},
      {u"ann", u"CARL", "MailBox/Carl/inbox", ""},
      {u"ann", u" bob", "Error", none + "ann; To:  bob"},
      {u"ann", u"nobody", "Error", none + "ann; To: nobody"},
      {u"ghost", u"nobody", "Error", none + "ghost; To: nobody"},
      {u"../../x", u"nobody", "Error", none + "../../x; To: nobody"},
      {u"ann", u"an\u0001n", "Error", none + "ann; To: an?n"},
      {u"", u"bob", nullptr, no_from},
      {u"", u"", nullptr, no_from},
      {u"ann", u"", nullptr, no_to + "ann"},
      {u" ", u"", nullptr, no_to + " "},  // blanks are not empty
  };
  for (const std::u16string to : {u"..", u".", u"../MailBox/ann", u"..\\ann", u"c:ann", u". .",
                                  u"ann/"}) {
    rows.push_back({u"ann", to, "Error", none + "ann; To: " + utf8(to)});
  }
  const fs::path ann = store.add_mailbox("ann");
  std::ofstream(ann / "Client.ini", std::ios::binary)
      << "[Profile]\r\nName=Ann\r\n[Errors]\r\nStatus=0\r\nCount=3\r\n";
  store.add_mailbox("bob");
  fs::create_directories(store.root() / "MailBox" / "Carl" / "inbox");
  fs::create_directories(store.root() / "Inbox");  // what "MailBox/.." + "/Inbox" would find
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    store.drop_mail("m" + std::to_string(i) + ".eml", rows[i].from, rows[i].to);
    if (!rows[i].entry.empty()) expected.push_back(rows[i].entry);
  }
  // A read-only file is deleted all the same.
  fs::permissions(store.drop() / "m7.eml", fs::perms::owner_read | fs::perms::group_read);
  write_bytes(store.drop() / "zero.eml", {});
  expected.push_back(no_from);
  // Sender and recipient decode, then a list with two dimensions makes the read fail.
  write_bytes(store.drop() / "damaged.eml",
              {0, 0, 0, 0, 3, 0, 'b', 'o', 'b', 3, 0, 'a', 'n', 'n', 0, 0, 0, 0, 2, 0});
  expected.push_back("Error    Bad record length: a list at byte 18 has 2 dimensions; record "
                     "files hold one-dimensional lists only");  // the description alone
  std::sort(expected.begin(), expected.end());
  tick();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string name = "m" + std::to_string(i) + ".eml";
    EXPECT_EQ(fs::exists(store.root() / (rows[i].ends ? rows[i].ends : "MailBank") / name),
              rows[i].ends != nullptr) << name << " " << utf8(rows[i].to);
  }
  EXPECT_TRUE(fs::exists(error_folder() / "damaged.eml"));
  EXPECT_EQ(file_count(store.drop()), 0u);
  EXPECT_EQ(file_count(error_folder()), 14u);  // 12 e-mails, the damaged one and the log
  EXPECT_EQ(file_count(ann / "Inbox"), 0u);
  EXPECT_EQ(file_count(store.root() / "Inbox"), 0u);
  EXPECT_TRUE(fs::exists(store.root() / "MailBox" / "Carl" / "inbox" / "timeStamp.dat"));
  EXPECT_EQ(store.sorted_log_entries(), expected);
  EXPECT_EQ(round->last_round().delivered, 2);
  EXPECT_EQ(round->last_round().to_error, 13);
  EXPECT_EQ(round->last_round().deleted, 5);
  const std::u16string ini = u16(ann / "Client.ini");
  EXPECT_EQ(ReadINI(ini, u"Errors", u"Status", u""), u"1");
  EXPECT_EQ(ReadINI(ini, u"Errors", u"Count", u""), u"3");
  EXPECT_EQ(ReadINI(ini, u"Profile", u"Name", u""), u"Ann");
  EXPECT_FALSE(fs::exists(store.root() / "MailBox" / "ghost"));
  EXPECT_FALSE(fs::exists(store.root().parent_path() / "x"));
  EXPECT_FALSE(fs::exists(store.root() / "Client.ini"));
}

// A reader that cannot be made leaves every file, said once per reason; one that fails on a
// file leaves that file and goes on, said once too.
TEST_F(RoundTest, ReaderFailuresLeaveTheFilesAndAreReportedOnce) {
  bool fail = true;
  const auto reader = hooked_reader([](const std::u16string& path) {
    if (path.find(u"bad") != std::u16string::npos) throw platform::AutomationError(462);
  });
  use([&]() -> std::unique_ptr<MailReader> {
    if (fail) throw platform::AutomationError(429);
    return reader();
  });
  const fs::path inbox = store.add_mailbox("bob") / "Inbox";
  store.drop_mail("bad.eml", u"ann", u"bob");
  store.drop_mail("good.eml", u"ann", u"bob");
  tick();
  tick();
  EXPECT_EQ(file_count(store.drop()), 2u);
  fail = false;
  tick();
  tick();
  EXPECT_TRUE(fs::exists(store.drop() / "bad.eml"));
  EXPECT_TRUE(fs::exists(inbox / "good.eml"));
  EXPECT_EQ(store.log_entries(),
            (std::vector<std::string>{
                "Error    Could not create the e-mail reader: ActiveX component can't create "
                "object (429)",
                "Error    Could not read \"bad.eml\": Application-defined or object-defined "
                "error (462)"}));
}

TEST_F(RoundTest, CollisionNeverReplacesAndIsReportedOncePerReasonOrHour) {
  const fs::path bob = store.add_mailbox("bob");
  write_bytes(bob / "Inbox" / "m1.eml", {'o', 'l', 'd'});
  const auto mail = read_bytes(store.drop_mail("m1.eml", u"ann", u"bob"));
  tick();
  tick();
  EXPECT_EQ(read_bytes(bob / "Inbox" / "m1.eml"), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(read_bytes(store.drop() / "m1.eml"), mail);
  EXPECT_EQ(round->last_round().stuck, 1);
  ASSERT_EQ(store.log_entries().size(), 1u);
  EXPECT_NE(store.log_entries()[0].find("Could not move \"m1.eml\" to \""), std::string::npos);
  EXPECT_NE(store.log_entries()[0].find("File already exists (58)"), std::string::npos);

  now += 3601.0 / 86400;  // an hour later the same problem is reported again
  tick();
  EXPECT_EQ(store.log_entries().size(), 2u);

  fs::remove_all(bob / "Inbox");  // a new reason is reported at once
  tick();
  ASSERT_EQ(store.log_entries().size(), 3u);
  EXPECT_NE(store.log_entries()[2].find("Path not found (76)"), std::string::npos);

  fs::create_directories(bob / "Inbox");
  tick();
  EXPECT_EQ(read_bytes(bob / "Inbox" / "m1.eml"), mail);
  EXPECT_EQ(store.log_entries().size(), 3u);
}

TEST_F(RoundTest, MissingErrorFolderKeepsTheFileForALaterRound) {
  fs::remove_all(store.root() / "Error");
  store.drop_mail("m1.eml", u"ann", u"nobody");
  tick();
  EXPECT_TRUE(fs::exists(store.drop() / "m1.eml"));
  fs::create_directories(store.root() / "Error");
  tick();
  EXPECT_TRUE(fs::exists(store.root() / "Error" / "m1.eml"));
  EXPECT_EQ(store.log_entries(), (std::vector<std::string>{
                                     "Warning  Email sent to non-existant recipient!  From: ann; "
                                     "To: nobody"}));
}

// A file written within the settling time waits, without a reader made for it, however
// unchanged it stays; one dated in the future (a pupil's PC with a fast clock) does not wait
// for its date to come. Writers are not asked here, so each needs a round unchanged.
TEST_F(RoundTest, FreshFileWaitsUntilItHasSettled) {
  use(round_options(2.0, false, 0.0));
  const fs::path inbox = store.add_mailbox("bob") / "Inbox";
  const fs::path file = store.drop_mail("m1.eml", u"ann", u"bob");
  tick();
  tick();
  EXPECT_TRUE(fs::exists(file));
  EXPECT_EQ(round->last_round().waiting, 1);
  EXPECT_EQ(factory_calls, 0);
  set_age(file, seconds(5));
  set_age(store.drop_mail("future.eml", u"ann", u"bob"), -std::chrono::hours(1));
  tick();
  tick();
  EXPECT_TRUE(fs::exists(inbox / "m1.eml"));
  EXPECT_TRUE(fs::exists(inbox / "future.eml"));
}

#ifndef _WIN32
// A mailbox owner replaces parts of the mailbox with links to places outside the store.
TEST_F(RoundTest, LinksBelowMailBoxAreNeverFollowed) {
  testsupport::TempDir outside;
  fs::create_directories(outside / "carl" / "Inbox");
  fs::create_directories(outside / "Inbox");
  write_bytes(outside / "victim.ini", {'[', 'x', ']'});
  write_bytes(outside / "victim.dat", {1, 2, 3, 4, 5, 6, 7, 8, 9});
  const fs::path ann = store.add_mailbox("ann");
  fs::create_symlink(outside / "victim.ini", ann / "Client.ini");
  const fs::path bob = store.root() / "MailBox" / "bob";
  fs::create_directories(bob);
  fs::create_directory_symlink(outside / "Inbox", bob / "Inbox");
  fs::create_directory_symlink(outside / "carl", store.root() / "MailBox" / "carl");
  const fs::path dave = store.add_mailbox("dave");
  fs::create_symlink(outside / "victim.dat", dave / "Inbox" / "timeStamp.dat");

  store.drop_mail("to-bob.eml", u"ann", u"bob");      // Inbox is a link: waits
  store.drop_mail("to-carl.eml", u"ann", u"carl");    // mailbox is a link: as if missing
  store.drop_mail("to-dave.eml", u"ann", u"dave");    // stamp is a link: delivered unstamped
  tick();
  tick();
  EXPECT_TRUE(fs::exists(store.drop() / "to-bob.eml"));
  EXPECT_TRUE(fs::is_empty(outside / "Inbox"));
  EXPECT_TRUE(fs::exists(store.root() / "Error" / "to-carl.eml"));
  EXPECT_TRUE(fs::is_empty(outside / "carl" / "Inbox"));
  EXPECT_TRUE(fs::exists(dave / "Inbox" / "to-dave.eml"));
  EXPECT_TRUE(fs::is_symlink(dave / "Inbox" / "timeStamp.dat"));
  EXPECT_EQ(read_bytes(outside / "victim.dat"), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(read_bytes(outside / "victim.ini"), (std::vector<uint8_t>{'[', 'x', ']'}));
  EXPECT_TRUE(fs::is_symlink(ann / "Client.ini"));

  auto entries = store.log_entries();
  std::sort(entries.begin(), entries.end());
  const std::string link = "\": Link not followed (75)";
  const std::string box = utf8(store.paths().child(u16(store.root()), u"MailBox"));
  EXPECT_EQ(entries, (std::vector<std::string>{
                         "Error    Could not move \"to-bob.eml\" to \"" + box +
                             "/bob/Inbox/to-bob.eml" + link,
                         "Error    Could not use \"" + box + "/ann/Client.ini" + link,
                         "Error    Could not use \"" + box + "/carl" + link,
                         "Error    Could not use \"" + box + "/dave/Inbox/timeStamp.dat" + link,
                         "Warning  Email sent to non-existant recipient!  From: ann; To: carl",
                     }));
}

// The administrator may make the store's own folders links; those are followed.
TEST_F(RoundTest, LinkedMailBoxFolderOfTheAdministratorIsFollowed) {
  testsupport::TempDir elsewhere;
  fs::create_directories(elsewhere / "boxes" / "bob" / "Inbox");
  fs::remove_all(store.root() / "MailBox");
  fs::create_directory_symlink(elsewhere / "boxes", store.root() / "MailBox");
  store.drop_mail("m1.eml", u"ann", u"bob");
  tick();
  EXPECT_TRUE(fs::exists(elsewhere / "boxes" / "bob" / "Inbox" / "m1.eml"));
  EXPECT_TRUE(fs::exists(elsewhere / "boxes" / "bob" / "Inbox" / "timeStamp.dat"));
  EXPECT_TRUE(store.log_lines().empty());
}
#else
// A junction in a mailbox. Wine 8 can make no junction (and shows links of the host as plain
// folders), so this runs on Windows only.
TEST_F(RoundTest, JunctionInAMailboxIsNeverFollowed) {
  testsupport::TempDir outside;
  fs::create_directories(outside / "Inbox");
  const fs::path bob = store.root() / "MailBox" / "bob";
  fs::create_directories(bob);
  const std::string cmd = "cmd /c mklink /J \"" + (bob / "Inbox").string() + "\" \"" +
                          (outside / "Inbox").string() + "\" >NUL 2>NUL";
  std::system(cmd.c_str());
  if (!fs::exists(bob / "Inbox")) GTEST_SKIP() << "no junctions here";
  store.drop_mail("to-bob.eml", u"ann", u"bob");
  tick();
  EXPECT_TRUE(fs::exists(store.drop() / "to-bob.eml"));
  EXPECT_TRUE(fs::is_empty(outside / "Inbox"));
  ASSERT_EQ(store.log_entries().size(), 1u);
  EXPECT_NE(store.log_entries()[0].find("Link not followed (75)"), std::string::npos);
}
#endif

// The store ignores letter case: a name taken in another case is a collision, so a mail can
// never land beside the stamp or the log and be overwritten or appended to later.
TEST_F(RoundTest, TargetTakenInAnotherLetterCaseIsACollision) {
  const fs::path bob = store.add_mailbox("bob");
  store.drop_mail("first.eml", u"ann", u"bob");
  tick();  // creates timeStamp.dat and the log file
  ASSERT_TRUE(fs::exists(bob / "Inbox" / "timeStamp.dat"));
  log.LogEvent(u"started", EventType::kWarning);
  write_bytes(bob / "Inbox" / "Note.eml", {'o', 'l', 'd'});
  store.drop_mail("TIMESTAMP.DAT", u"ann", u"bob");
  store.drop_mail("note.EML", u"ann", u"bob");
  store.drop_mail("SORTERR.LOG", u"ann", u"nobody");
  const auto stamp = read_bytes(bob / "Inbox" / "timeStamp.dat");
  tick();
  for (const char* name : {"TIMESTAMP.DAT", "note.EML", "SORTERR.LOG"}) {
    EXPECT_TRUE(fs::exists(store.drop() / name)) << name;
  }
  EXPECT_EQ(file_count(bob / "Inbox"), 3u);  // first.eml, timeStamp.dat, Note.eml
  EXPECT_EQ(file_count(store.root() / "Error"), 1u);
  EXPECT_EQ(read_bytes(bob / "Inbox" / "timeStamp.dat"), stamp);
  EXPECT_EQ(read_bytes(bob / "Inbox" / "Note.eml"), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(round->last_round().stuck, 3);
  const auto entries = store.log_entries();
  EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                          [](const std::string& e) {
                            return e.find("File already exists (58)") != std::string::npos;
                          }),
            3);
}

// A stop request is asked for after each file: the round ends there and yields, the other
// files wait in the drop folder for the next round. A released round touches nothing.
TEST_F(RoundTest, StopRequestEndsTheRoundAfterTheCurrentFile) {
  const fs::path bob = store.add_mailbox("bob");
  for (const char* name : {"a.eml", "b.eml", "c.eml"}) store.drop_mail(name, u"ann", u"bob");
  int asked = 0;
  round->set_stop_request([&asked] { return ++asked == 1; });
  tick();
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(yields, 1);
  EXPECT_EQ(round->last_round().delivered, 1);
  EXPECT_EQ(file_count(bob / "Inbox"), 2u);  // the one e-mail and its stamp
  EXPECT_EQ(file_count(store.drop()), 2u);
  round->release();
  tick();
  EXPECT_EQ(yields, 2);
  EXPECT_EQ(file_count(store.drop()), 2u);
  round->bind(u16(store.drop()));
  tick();  // no stop asked any more: the rest follow
  EXPECT_EQ(file_count(store.drop()), 0u);
}

TEST_F(RoundTest, FileTakenByAnotherSorterIsNeitherRecreatedNorLogged) {
  const fs::path bob = store.add_mailbox("bob");
  store.drop_mail("m1.eml", u"ann", u"bob");
  bool taken = false;
  meddle([&](const std::u16string& path) {
    std::error_code ec;  // Windows: nobody can take a file the round holds open
    fs::rename(fs::path(path), fs::path(path) += ".taken", ec);
    taken = !ec;
  });
  tick();
  EXPECT_FALSE(fs::exists(store.drop() / "m1.eml")) << "re-created";
  EXPECT_EQ(fs::exists(store.drop() / "m1.eml.taken"), taken);
  EXPECT_EQ(fs::exists(bob / "Inbox" / "m1.eml"), !taken);
  EXPECT_TRUE(store.log_lines().empty());
  EXPECT_EQ(round->last_round().deleted, 0);
}

#ifndef _WIN32
// The round lists the drop folder first; files swapped for something else after the listing
// are opened as what they are then, without following links and without blocking.
TEST_F(RoundTest, FileSwappedForALinkOrFifoAfterTheListingIsLeftAlone) {
  const fs::path bob = store.add_mailbox("bob");
  const fs::path secret = store.root() / "secret.eml";
  store.drop_mail("secret.eml", u"ann", u"bob");
  fs::rename(store.drop() / "secret.eml", secret);
  for (const char* name : {"a.eml", "b.eml", "c.eml"}) store.drop_mail(name, u"ann", u"bob");
  std::set<std::string> swapped;
  meddle([&](const std::u16string& path) {
    const std::string first = fs::path(path).filename().string();
    for (const char* name : {"a.eml", "b.eml", "c.eml"}) {
      if (name == first) continue;
      const fs::path p = store.drop() / name;
      fs::remove(p);
      if (swapped.empty()) {
        fs::create_symlink(secret, p);
      } else {
        ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
      }
      swapped.insert(name);
    }
  });
  tick();  // a FIFO opened for reading would block here
  ASSERT_EQ(swapped.size(), 2u);
  for (const std::string& name : swapped) {
    EXPECT_FALSE(fs::exists(bob / "Inbox" / name)) << name;
    EXPECT_TRUE(fs::is_symlink(store.drop() / name) || fs::is_fifo(store.drop() / name)) << name;
  }
  EXPECT_EQ(round->last_round().delivered, 1);
  EXPECT_TRUE(store.log_lines().empty());
}

// File names are bytes here; one that is not UTF-8 is sorted under its own bytes.
TEST_F(RoundTest, NameThatIsNotUtf8IsSortedKeepingItsBytes) {
  const fs::path bob = store.add_mailbox("bob");
  const auto bytes = read_bytes(store.drop_mail("m.eml", u"ann", u"bob"));
  fs::rename(store.drop() / "m.eml", store.drop() / "caf\xE9.eml");
  store.drop_mail("n.eml", u"", u"bob");
  fs::rename(store.drop() / "n.eml", store.drop() / "\xFF.eml");
  tick();
  EXPECT_EQ(read_bytes(bob / "Inbox" / "caf\xE9.eml"), bytes);
  EXPECT_EQ(file_count(store.drop()), 0u);
  EXPECT_EQ(store.log_entries(),
            (std::vector<std::string>{"Warning  Email sent with no sender information!"}));
}
#endif

// A client that creates its file and fills it slowly, pausing longer than the settling time.
TEST_F(RoundTest, FileStillOpenForWritingIsLeftAloneHoweverOld) {
  use(round_options(2.0));
  const fs::path bob = store.add_mailbox("bob");
  const fs::path file = store.drop() / "slow.eml";
  const auto bytes = store.mail_bytes(u"ann", u"bob");
  {
    std::ofstream writer(file, std::ios::binary);
    set_age(file, seconds(30));
    tick();
    EXPECT_TRUE(fs::exists(file)) << "an empty file still being written";
    writer.write(reinterpret_cast<const char*>(bytes.data()), 10);
    writer.flush();
    set_age(file, seconds(30));
    tick();
    EXPECT_TRUE(fs::exists(file)) << "half written";
    EXPECT_EQ(round->last_round().waiting, 1);
    writer.write(reinterpret_cast<const char*>(bytes.data()) + 10,
                 static_cast<std::streamsize>(bytes.size() - 10));
  }
  EXPECT_TRUE(store.log_lines().empty());
  set_age(file, seconds(30));
  tick();
  EXPECT_EQ(read_bytes(bob / "Inbox" / "slow.eml"), bytes);
}

// Where nobody can say who writes a file, it is taken only once it is older than the long
// settling time and unchanged (size and time) since the round before.
TEST_F(RoundTest, WithoutWriterInformationAFileMustBeOldAndUnchangedForARound) {
  use(round_options(2.0, false, 30.0));
  const fs::path bob = store.add_mailbox("bob");
  const fs::path file = store.drop() / "slow.eml";
  const auto bytes = store.mail_bytes(u"ann", u"bob");
  write_bytes(file, bytes);
  set_age(file, seconds(6));
  tick();
  tick();  // unchanged, but young
  const auto old = fs::last_write_time(file) - seconds(30);
  fs::last_write_time(file, old);
  tick();  // old, but another time
  write_bytes(file, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 10));
  fs::last_write_time(file, old);
  tick();  // the same time, another size
  write_bytes(file, bytes);
  fs::last_write_time(file, old);
  tick();
  EXPECT_TRUE(fs::exists(file));
  EXPECT_EQ(round->last_round().waiting, 1);
  tick();  // unchanged since the last round
  EXPECT_EQ(read_bytes(bob / "Inbox" / "slow.eml"), bytes);
  EXPECT_TRUE(store.log_lines().empty()) << "writers not asked by choice: nothing to say";
}

// A problem met only every other round (the file waits in the rounds between) is still
// reported once an interval; a new reason is reported at once, and so is a solved one again.
TEST(RepeatFilterTest, AProblemMetEveryOtherRoundIsReportedOncePerInterval) {
  RepeatFilter filter(3600.0);
  const double round = 10.0 / 86400;
  int reports = 0;
  for (int i = 0; i < 740; ++i) {  // two hours and a little of 10-second rounds
    const double now = kNow + i * round;
    if (i % 2 == 0 && filter.should_report(u"file:a.eml", u"exists", now)) ++reports;
    filter.end_round(now);
  }
  EXPECT_EQ(reports, 3);  // at the start, after one hour, after two
  const double later = kNow + 740 * round;
  EXPECT_TRUE(filter.should_report(u"file:a.eml", u"missing", later));
  filter.resolved(u"file:a.eml");
  EXPECT_TRUE(filter.should_report(u"file:a.eml", u"missing", later));
  filter.end_round(later + 2 * 3600.0 / 86400);
  EXPECT_EQ(filter.size(), 0u) << "problems of past intervals are not kept";
}

// A file whose writers cannot be seen, stuck behind a name already taken: each round tries it
// (it never waits afresh every other round), and the log says so once an hour.
TEST_F(RoundTest, StuckFileWithUnseenWritersIsTriedEachRoundAndLoggedOncePerHour) {
  use(round_options(2.0, false, 30.0));
  const fs::path bob = store.add_mailbox("bob");
  write_bytes(bob / "Inbox" / "m1.eml", {'o', 'l', 'd'});
  const fs::path file = store.drop_mail("m1.eml", u"ann", u"bob");
  set_age(file, std::chrono::hours(1));
  tick();  // first sight
  int stuck = 0;
  for (int i = 1; i < 740; ++i) {  // two hours and a little of 10-second rounds
    now += 10.0 / 86400;
    tick();
    stuck += round->last_round().stuck;
  }
  EXPECT_EQ(stuck, 739);
  EXPECT_EQ(store.log_entries().size(), 3u);
  EXPECT_TRUE(fs::exists(file));
}

// A reader that fails short of memory does not make the file unreadable; a list the file
// claims beyond its size ("Out of memory" with the reader's own description) does.
TEST_F(RoundTest, ReaderShortOfMemoryLeavesTheFileAndSaysSoOnce) {
  class FailingReader final : public MailReader {
   public:
    explicit FailingReader(platform::AutomationError e) : failure_(std::move(e)) {}
    OpenedEmail open(const std::u16string&, platform::DropFile&) override {
      OpenedEmail mail;
      mail.failure = failure_;
      return mail;
    }

   private:
    platform::AutomationError failure_;
  };
  struct Case {
    platform::AutomationError failure;
    bool waits;
  };
  const Case cases[] = {
      {platform::AutomationError(platform::errnum::kOutOfMemory), true},
      {platform::AutomationError(platform::errnum::kTooManyFiles), true},
      {platform::AutomationError(platform::errnum::kOutOfMemory, u"Out of memory: a list"), false},
  };
  for (const Case& c : cases) {
    fresh([&c] { return std::make_unique<FailingReader>(c.failure); });
    const fs::path file = store.drop_mail("m1.eml", u"ann", u"bob");
    for (int i = 0; i < 3; ++i) round->DoRounds();
    EXPECT_EQ(fs::exists(file), c.waits) << utf8(c.failure.description());
    const auto entries = store.log_entries();
    ASSERT_EQ(entries.size(), 1u) << utf8(c.failure.description());
    EXPECT_EQ(entries[0].find("short of handles or memory") != std::string::npos, c.waits);
  }
}

#ifndef _WIN32
// The process's open-file limit lowered for a test, and restored.
class HandleLimit {
 public:
  explicit HandleLimit(rlim_t soft) {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = soft;
    EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
  }
  ~HandleLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
  HandleLimit(const HandleLimit&) = delete;
  HandleLimit& operator=(const HandleLimit&) = delete;

 private:
  rlimit saved_{};
};

std::string mailbox_name(int i) { return "u" + std::to_string(10000 + i).substr(1); }

// A school's worth of mailboxes under a low open-file limit: the round keeps only as many
// mailbox folders open as the limit leaves room for, so each mailbox gets its e-mail and its
// stamp and nothing goes to Error.
TEST_F(RoundTest, EveryMailboxGetsItsMailUnderALowHandleLimit) {
  struct Case {
    rlim_t limit;
    int mailboxes;
  };
  for (const Case c : {Case{20, 30}, Case{64, 200}}) {
    fresh(in_process_mail_reader_factory());
    for (int i = 0; i < c.mailboxes; ++i) {
      const std::string user = mailbox_name(i);
      store.add_mailbox(user);
      store.drop_mail(user + ".eml", u"ann", platform::from_utf8(user));
    }
    {
      HandleLimit limit(c.limit);
      round->DoRounds();
    }
    EXPECT_EQ(round->last_round().delivered, c.mailboxes) << c.limit;
    EXPECT_EQ(file_count(store.drop()), 0u) << c.limit;
    EXPECT_EQ(file_count(error_folder()), 0u) << c.limit;
    for (int i = 0; i < c.mailboxes; ++i) {
      EXPECT_EQ(file_count(store.root() / "MailBox" / mailbox_name(i) / "Inbox"), 2u)
          << c.limit << " " << mailbox_name(i);
    }
  }
}

// Descriptors run out while a round runs, three left for the drop folder's listing, the files
// and their mailboxes' folders: the files that then cannot be opened, or not delivered for want of their mailbox's folders,
// wait in the drop folder rather than go to Error as unreadable, and a later round sorts them.
TEST_F(RoundTest, FilesThatCannotBeOpenedForWantOfHandlesWait) {
  const fs::path inbox = store.add_mailbox("bob") / "Inbox";
  constexpr int kMails = 80;
  const auto mails_in = [](const fs::path& folder) {
    std::size_t n = 0;
    for (const auto& e : fs::directory_iterator(folder)) n += e.path().extension() == ".eml";
    return n;
  };
  // A round before opens the folders a misjudged file would go to, and keeps them.
  store.drop_mail("first.eml", u"ann", u"nobody");
  tick();
  ASSERT_EQ(mails_in(store.root() / "Error"), 1u);
  for (int i = 0; i < kMails; ++i) store.drop_mail("m" + std::to_string(i) + ".eml", u"ann", u"bob");
  {
    // The limit at the fourth lowest free descriptor leaves the three below it.
    int free_fds[4];
    for (int& fd : free_fds) fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    for (const int fd : free_fds) ::close(fd);
    HandleLimit three_free(static_cast<rlim_t>(free_fds[3]));
    tick();
  }
  const RoundReport short_round = round->last_round();
  EXPECT_EQ(mails_in(store.root() / "Error"), 1u);
  EXPECT_GE(short_round.waiting, 1);
  EXPECT_EQ(short_round.delivered + short_round.waiting, kMails);
  EXPECT_EQ(file_count(store.drop()), static_cast<std::size_t>(short_round.waiting));
  tick();
  EXPECT_EQ(file_count(store.drop()), 0u);
  EXPECT_EQ(mails_in(inbox), static_cast<std::size_t>(kMails));
  EXPECT_EQ(mails_in(store.root() / "Error"), 1u);
  const auto entries = store.log_entries();
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries[0], "Warning  Email sent to non-existant recipient!  From: ann; To: nobody");
  for (std::size_t i = 1; i < entries.size(); ++i) {
    EXPECT_NE(entries[i].find("short of handles or memory"), std::string::npos) << entries[i];
  }
}

// A sorter without lease rights over the pupils' files (a child process running as another
// user than the files' owner): it says so once in the log, and takes the files by the long
// settling rules alone.
TEST_F(RoundTest, WritersThatCannotBeSeenAreSaidOnceInTheLog) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as a user without lease rights";
  use(round_options(2.0, true, 30.0));
  const fs::path bob = store.add_mailbox("bob");
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
  for (const char* name : {"a.eml", "b.eml"}) {
    const fs::path mail = store.drop_mail(name, u"ann", u"bob");
    testsupport::OtherOwner::give_away(mail);
    fs::last_write_time(mail, old);
  }
  const std::string answer = testsupport::OtherOwner::run_unprivileged(store.root(), [&] {
    for (int i = 0; i < 3; ++i) tick();
    return round->last_round().waiting == 0 ? std::string() : "files still waiting";
  });
  EXPECT_EQ(answer, "");
  EXPECT_TRUE(fs::exists(bob / "Inbox" / "a.eml"));
  EXPECT_TRUE(fs::exists(bob / "Inbox" / "b.eml"));
  const auto entries = store.log_entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].rfind("Warning  Writers of the dropped files cannot be seen", 0), 0u);
  EXPECT_NE(entries[0].find("only once it is 30 s old"), std::string::npos);
}
#endif

#ifdef __linux__
// Reads the file, then has a client save it again under its name: in place (its open waits
// while the round holds the lease; the reader returns once the round's handle shows it), or as
// a new file renamed over the name.
class SaveAgainAfterRead final : public MailReader {
 public:
  SaveAgainAfterRead(std::thread& writer, std::vector<uint8_t> bytes, bool in_place, bool& seen)
      : writer_(writer), bytes_(std::move(bytes)), in_place_(in_place), seen_(seen) {}
  OpenedEmail open(const std::u16string& path, platform::DropFile& file) override {
    OpenedEmail mail = inner_->open(path, file);
    if (std::exchange(started_, true)) return mail;  // once
    const fs::path name(path);
    if (!in_place_) {
      const fs::path fresh = name.parent_path().parent_path() / "saved.tmp";
      write_bytes(fresh, bytes_);
      fs::rename(fresh, name);
      seen_ = true;
      return mail;
    }
    writer_ = std::thread([name, bytes = bytes_] { write_bytes(name, bytes); });
    for (int i = 0; i < 2000 && file.hold_for_move(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    seen_ = !file.hold_for_move();
    return mail;
  }

 private:
  std::thread& writer_;
  std::vector<uint8_t> bytes_;
  bool in_place_;
  bool& seen_;
  bool started_ = false;
  std::unique_ptr<MailReader> inner_ = in_process_mail_reader_factory()();
};

// A client saves again under the same name just after the round read the file: the round
// finds its lease broken, or another file at the name, before the move and leaves the file;
// the next round delivers the new version where its own header says.
TEST_F(RoundTest, FileSavedAgainAfterItsReadIsNotMovedUnderTheOldHeader) {
  for (const bool in_place : {true, false}) {
    SCOPED_TRACE(in_place ? "saved in place" : "saved by rename");
    std::thread writer;
    bool seen = false;
    const auto second = store.mail_bytes(u"ann", u"carol", u"second");
    fresh([&] { return std::make_unique<SaveAgainAfterRead>(writer, second, in_place, seen); });
    const fs::path bob = store.add_mailbox("bob");
    const fs::path carol = store.add_mailbox("carol");
    const fs::path file = store.drop_mail("m.eml", u"ann", u"bob", u"first");
    round->DoRounds();
    if (writer.joinable()) writer.join();
    ASSERT_TRUE(seen) << "no lease to break here";
    EXPECT_FALSE(fs::exists(bob / "Inbox" / "m.eml"));
    EXPECT_EQ(read_bytes(file), second);
    EXPECT_EQ(round->last_round().waiting, 1);
    round->DoRounds();
    EXPECT_FALSE(fs::exists(bob / "Inbox" / "m.eml"));
    EXPECT_EQ(read_bytes(carol / "Inbox" / "m.eml"), second);
    EXPECT_TRUE(store.log_lines().empty());
  }
}
#endif

}  // namespace
}  // namespace sorter
