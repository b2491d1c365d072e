// Many rounds while files keep arriving and the store misbehaves: target names already taken,
// Inbox, Buffer and Error folders missing for a while, read-only files, files that vanish
// before they are opened, monitoring switched back and forth, links planted in mailboxes
// (POSIX), a restart after a crash in the middle of moves across file systems, slow writers
// that hold their files open across rounds, and two more sorters on the same store: one whose
// rounds run inside the first one's (while it holds a file open), and one in a thread of its
// own at the same time. At the end every file is delivered, in Error, deleted by rule
// with one log entry, or still waiting; none is lost, none is doubled, no file was read while
// a writer still had it open, and nothing outside the store was touched.

#include <gtest/gtest.h>

#include <list>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "platform/confined_folder.h"
#include "platform/file_system.h"
#include "sorter/engine/settings.h"
#include "sorter/engine/sorting_round.h"
#include "sorter/engine/store_folders.h"
#include "sorter/engine/test_store.h"

namespace sorter {
namespace {

using namespace sorter::testing;
using testsupport::read_bytes;
using testsupport::u16;
using testsupport::write_bytes;

#ifdef _WIN32
constexpr int kFiles = 160;  // file operations under Wine are slow
#else
constexpr int kFiles = 1600;
#endif
constexpr int kRounds = 16;
constexpr int kMailboxes = 8;

constexpr int kInterleaveEvery = 40;  // reads of the first sorter between the second's rounds
enum class Kind { deliver, no_mailbox, no_sender, no_recipient, damaged };

struct Dropped {
  Kind kind;
  std::string user;
  std::vector<uint8_t> bytes;
  bool blocked = false;  // a file of its name already waits in every place it could go
  bool slow = false;     // written by a SlowWriter
};

// A client on a slow line: it creates its file empty, writes the e-mail in pieces with pauses
// of whole rounds between them, and closes the file only at the end.
class SlowWriter {
 public:
  SlowWriter(fs::path path, std::vector<uint8_t> bytes)
      : path_(std::move(path)), bytes_(std::move(bytes)), out_(path_, std::ios::binary) {}

  bool open() const { return out_.is_open(); }
  const fs::path& path() const { return path_; }
  // What the file must hold now: the writer's file, in the drop folder, as written so far.
  std::vector<uint8_t> written() const {
    return std::vector<uint8_t>(bytes_.begin(), bytes_.begin() + static_cast<long>(done_));
  }

  // The next step: a piece, a pause, and after the last piece the close.
  void step() {
    static constexpr int kPieceAt[] = {1, 3, 5};  // steps 0, 2 and 4 pause
    const std::size_t ends[] = {10, bytes_.size() / 2, bytes_.size()};
    for (int i = 0; i < 3; ++i) {
      if (kPieceAt[i] != step_) continue;
      out_.write(reinterpret_cast<const char*>(bytes_.data()) + done_,
                 static_cast<std::streamsize>(ends[i] - done_));
      out_.flush();
      done_ = ends[i];
    }
    if (++step_ > 5) out_.close();
  }

 private:
  fs::path path_;
  std::vector<uint8_t> bytes_;
  std::ofstream out_;
  std::size_t done_ = 0;
  int step_ = 0;
};

// One sorter on the store, with a log of its own (into the same SortErr.log) and a reader
// that runs before_read first.
struct Sorter {
  Sorter(const TestStore& store, const double& now, HookedReader::Hook before_read)
      : store_(store), now_(now), before_read_(std::move(before_read)), log([&now] { return now; }) {
    restart();
  }
  void run() {
    round->CheckMonitoring();
    round->DoRounds();
  }
  // Starts afresh, as after a crash: nothing is kept of the rounds before.
  void restart() { round = bound_round(store_, log, now_, hooked_reader(before_read_)); }

  const TestStore& store_;
  const double& now_;
  HookedReader::Hook before_read_;
  EventLog log;
  std::unique_ptr<SortingRound> round;
};

class Soak {
 public:
  Soak() {
    for (int m = 0; m < kMailboxes; ++m) store.add_mailbox("user" + std::to_string(m));
  }

  // The first sorter takes chosen files away once it has opened them, lets a second sorter run
  // a whole round now and then while it holds a file open, and has one slow writer write a piece
  // in the middle of its round.
  void before_first_reads(const std::u16string& path) {
    note_read(path);
    const std::string name = fs::path(path).filename().string();
    if (vanish.count(name) != 0) {
      try {
        platform::delete_file_forced(path);
        vanished.insert(name);
      } catch (const platform::AutomationError&) {
        // Windows: nobody can take a file the round holds open; elsewhere another sorter
        // may have taken it first
      }
    }
    if (reads_++ % kInterleaveEvery == 0) interleaved.run();
    if (!wrote_mid_round_) {
      wrote_mid_round_ = true;
      advance_one_writer();
    }
  }

  // Every reader records a read of a file that a writer still holds open.
  void note_read(const std::u16string& path) {
    const std::lock_guard lock(writers_mutex_);
    const fs::path name = fs::path(path).filename();
    for (const auto& w : writers) {
      if (w.open() && w.path().filename() == name) read_while_open.push_back(name.string());
    }
  }

  // One round of the first sorter; in odd rounds the concurrent sorter's round runs beside it,
  // in even rounds the first sorter has the files to itself but for the interleaved sorter.
  void run_rounds(int r) {
    wrote_mid_round_ = false;
    reads_ = 0;
    if (r % 2 == 0) return first.run();
    std::thread other([&] { concurrent.run(); });
    first.run();
    other.join();
  }

  // Between rounds every open writer takes its next step, after checking that its file is
  // still where it wrote it and holds no more and no less than it wrote.
  void advance_writers() {
    for (auto& w : writers) {
      if (w.open()) step(w);
    }
  }
  void advance_one_writer() {
    for (auto& w : writers) {
      if (w.open()) return step(w);
    }
  }
  void step(SlowWriter& w) {
    EXPECT_EQ(read_bytes(w.path()), w.written()) << w.path() << " touched while being written";
    const std::lock_guard lock(writers_mutex_);
    w.step();
  }
  void finish_writers() {
    for (auto& w : writers) {
      while (w.open()) step(w);
    }
  }

#ifndef _WIN32
  // A mischievous pupil: user7's Buffer, user6's time stamp and user0's Client.ini become links
  // to places outside the store.
  void plant_links() {
    fs::create_directories(outside.path() / "Buffer");
    write_bytes(outside.path() / "victim", kVictim);
    const fs::path boxes = store.root() / "MailBox";
    fs::remove_all(boxes / "user7" / "Buffer");
    fs::create_directory_symlink(outside.path() / "Buffer", boxes / "user7" / "Buffer");
    fs::create_symlink(outside.path() / "victim", boxes / "user6" / "Inbox" / "timeStamp.dat");
    fs::create_symlink(outside.path() / "victim", boxes / "user0" / "Client.ini");
  }
#endif

  // What a kill leaves during moves to another file system, then the start that follows: a
  // partial copy beside a whole source, and a whole copy linked to its name whose source was
  // not yet removed. The start-up cleans only the store folder; the sorters' rounds clean each
  // folder they open before moving anything into it. Returns the files whose move is finished.
  std::vector<std::string> crash_and_restart() {
    const std::string tmp = platform::to_utf8(platform::kTemporaryPrefix);
    std::vector<std::string> finished;
    int n = 0;
    for (const auto& [name, d] : dropped) {
      if (d.kind != Kind::deliver || d.blocked || d.slow || vanish.count(name) != 0 ||
          !fs::exists(store.drop() / name)) {
        continue;
      }
      const fs::path inbox = store.root() / "MailBox" / d.user / "Inbox";
      const fs::path temp = inbox / (tmp + "crash" + std::to_string(n));
      if (n++ % 2 == 0) {
        write_bytes(temp, std::vector<uint8_t>(d.bytes.begin(), d.bytes.begin() + 3));
      } else {
        write_bytes(temp, d.bytes);
        fs::create_hard_link(temp, inbox / name);
        finished.push_back(name);
      }
      if (n == 12) break;
    }
    write_bytes(store.root() / "MailBox" / "user1" / (tmp + "ini"), {'['});  // a profile rewrite
    // None beside Sorter.ini; where a round could not remove a source it holds open, the
    // start-up cleans every folder.
    EXPECT_EQ(remove_store_leftovers(store.paths()),
              platform::ConfinedFolder::removes_files_held_open() ? 0 : n + 1);
    for (Sorter* sorter : {&first, &interleaved, &concurrent}) sorter->restart();
    return finished;
  }

  void drop(int i) {
    const std::string name = "f" + std::to_string(i) + ".eml";
    Dropped d;
    d.kind = static_cast<Kind>(i % 5 == 4 ? i / 5 % 5 : 0);  // most mail is deliverable
    d.user = "user" + std::to_string(i % kMailboxes);
    const fs::path path = store.drop() / name;
    switch (d.kind) {
      case Kind::deliver: store.drop_mail(name, u"ann", platform::from_utf8(d.user)); break;
      case Kind::no_mailbox: store.drop_mail(name, u"user0", u"nobody"); break;
      case Kind::no_sender: store.drop_mail(name, u"", u"user1"); break;
      case Kind::no_recipient: store.drop_mail(name, u"user2", u""); break;
      case Kind::damaged: write_bytes(path, {0, 0, 0, 0, 1, 0, 'x', 0, 0, 0, 0, 0, 0, 5, 0}); break;
    }
    if (i % 23 == 0) {
      // Collisions: the name is already taken everywhere the file could go.
      d.blocked = d.kind == Kind::deliver || d.kind == Kind::no_mailbox || d.kind == Kind::damaged;
      for (const fs::path& target : targets(d)) write_bytes(target / name, decoy(i));
    }
    if (i % 7 == 0) fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
    if (i % 31 == 0) vanish.insert(name);
    d.bytes = read_bytes(path);
    if (d.kind == Kind::deliver && i % 40 == 1 && i % 7 != 0 && i % 23 != 0 && i % 31 != 0) {
      d.slow = true;  // the same e-mail, written slowly
      fs::remove(path);
      const std::lock_guard lock(writers_mutex_);
      writers.emplace_back(path, d.bytes);
    }
    dropped[name] = d;
  }

  std::vector<fs::path> targets(const Dropped& d) const {
    const fs::path box = store.root() / "MailBox" / d.user;
    if (d.kind == Kind::deliver) return {box / "Inbox", box / "Buffer"};
    if (d.kind == Kind::no_mailbox || d.kind == Kind::damaged) return {store.root() / "Error"};
    return {};
  }
  static std::vector<uint8_t> decoy(int i) { return {'d', 'e', 'c', 'o', 'y', uint8_t(i)}; }

  // Takes folders away for one round (renamed aside, so nothing in them is lost).
  void break_folders(int r) {
    const fs::path box = store.root() / "MailBox" / ("user" + std::to_string(r % kMailboxes));
    aside.clear();
    aside.push_back(box / (r % 2 == 0 ? "Inbox" : "Buffer"));
    if (r % 4 == 1) aside.push_back(store.root() / "Error");
    for (const auto& f : aside) fs::rename(f, fs::path(f.string() + ".aside"));
  }
  void mend_folders() {
    for (const auto& f : aside) fs::rename(fs::path(f.string() + ".aside"), f);
    aside.clear();
  }

  TestStore store;
  double now = kNow;
  Sorter first{store, now, [this](const std::u16string& path) { before_first_reads(path); }};
  Sorter interleaved{store, now, [this](const std::u16string& path) { note_read(path); }};
  Sorter concurrent{store, now, [this](const std::u16string& path) { note_read(path); }};
  std::set<std::string> vanish;    // taken away once the first sorter has opened them
  std::set<std::string> vanished;  // those the first sorter got to before the others
  std::map<std::string, Dropped> dropped;
  std::vector<fs::path> aside;
  std::list<SlowWriter> writers;
  std::vector<std::string> read_while_open;
  testsupport::TempDir outside;
  static inline const std::vector<uint8_t> kVictim{'v', 'i', 'c', 't', 'i', 'm', '!', '!', '!'};

 private:
  std::mutex writers_mutex_;
  int reads_ = 0;
  bool wrote_mid_round_ = false;
};

std::size_t count_entries(const std::vector<std::string>& entries, const std::string& prefix) {
  std::size_t n = 0;
  for (const auto& e : entries) n += e.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

TEST(Soak, NoFileIsLostWhateverTheStoreDoes) {
  Soak soak;
#ifndef _WIN32
  soak.plant_links();
#endif
  int next = 0;
  std::vector<std::string> finished;
  for (int r = 0; r < kRounds; ++r) {
    for (int k = 0; k < kFiles / kRounds; ++k) soak.drop(next++);
    if (r == kRounds / 2) finished = soak.crash_and_restart();
    soak.break_folders(r);
    WriteINI(u16(soak.store.root() / "Sorter.ini"), u"Monitoring", u"value",
             r % 3 == 0 ? u"True" : u"False");
    soak.run_rounds(r);
    soak.mend_folders();
    soak.advance_writers();
    soak.now += 10.0 / 86400;
  }
  soak.finish_writers();
  SortingRound& round = *soak.first.round;
  round.set_monitoring(false);  // every folder back in place, user7's Inbox reachable
  round.DoRounds();
  round.DoRounds();
  EXPECT_FALSE(finished.empty());
  EXPECT_GE(soak.writers.size(), 3u);
  EXPECT_EQ(soak.read_while_open, std::vector<std::string>{});
  for (const auto& name : finished) {
    const auto& d = soak.dropped.at(name);
    EXPECT_EQ(read_bytes(soak.store.root() / "MailBox" / d.user / "Inbox" / name), d.bytes) << name;
  }
  for (const auto& e : fs::recursive_directory_iterator(soak.store.root())) {
    EXPECT_FALSE(platform::is_temporary_name(u16(e.path().filename()))) << e.path();
  }
#ifndef _WIN32
  for (const auto& e : fs::directory_iterator(soak.outside.path() / "Buffer")) {
    const std::string name = e.path().filename().string();  // only the test's own decoys
    EXPECT_EQ(read_bytes(e.path()), Soak::decoy(std::stoi(name.substr(1)))) << name;
  }
  EXPECT_EQ(read_bytes(soak.outside.path() / "victim"), Soak::kVictim);
  const auto reasons = soak.store.log_entries();
  EXPECT_GT(count_entries(reasons, "Error    Could not use \""), 0u);  // links named in the log
#endif

  std::size_t deleted_no_sender = 0, deleted_no_recipient = 0, in_error = 0, damaged_in_error = 0;
  for (const auto& [name, d] : soak.dropped) {
    SCOPED_TRACE(name);
    const fs::path root = soak.store.root();
    const fs::path box = root / "MailBox" / d.user;
    std::vector<fs::path> places;
    for (const fs::path& folder :
         {root / "MailBank", root / "Error", box / "Inbox", box / "Buffer"}) {
      if (fs::exists(folder / name) && read_bytes(folder / name) == d.bytes) places.push_back(folder);
    }
    for (const fs::path& target : soak.targets(d)) {
      if (d.blocked) {
        EXPECT_EQ(read_bytes(target / name), Soak::decoy(std::stoi(name.substr(1))));
      }
    }
    if (soak.vanished.count(name) != 0) {
      EXPECT_TRUE(places.empty());
      continue;
    }
    switch (d.kind) {
      case Kind::deliver:
        ASSERT_EQ(places.size(), 1u);
        EXPECT_EQ(places[0] == root / "MailBank", d.blocked);
        EXPECT_NE(places[0], root / "Error");
        break;
      case Kind::no_mailbox:
      case Kind::damaged:
        ASSERT_EQ(places.size(), 1u);
        EXPECT_EQ(places[0], d.blocked ? root / "MailBank" : root / "Error");
        if (!d.blocked) ++in_error;
        if (!d.blocked && d.kind == Kind::damaged) ++damaged_in_error;
        break;
      case Kind::no_sender:
        EXPECT_TRUE(places.empty());
        ++deleted_no_sender;
        break;
      case Kind::no_recipient:
        EXPECT_TRUE(places.empty());
        ++deleted_no_recipient;
        break;
    }
  }
  const auto entries = soak.store.log_entries();
  EXPECT_EQ(count_entries(entries, "Warning  Email sent with no sender information!"),
            deleted_no_sender);  // a file taken away leaves no trace
  EXPECT_EQ(count_entries(entries, "Warning  Email sent with no recipient information!  From: "),
            deleted_no_recipient);
  EXPECT_EQ(count_entries(entries, "Warning  Email sent to non-existant recipient!") +
                count_entries(entries, "Error    Bad record length"),
            in_error);
  EXPECT_EQ(count_entries(entries, "Error    Bad record length"), damaged_in_error);
  EXPECT_GT(count_entries(entries, "Error    Could not move"), 0u);
  for (const auto& e : entries) {
    // A file another sorter took, or held for a moment while taking it, is no failure of this
    // one's; and no delete in this store has a reason to fail.
    EXPECT_EQ(e.find("File not found (53)"), std::string::npos) << e;
    EXPECT_EQ(e.find("Permission denied (70)"), std::string::npos) << e;
    EXPECT_EQ(e.rfind("Error    Could not delete", 0), std::string::npos) << e;
    EXPECT_EQ(e.rfind("Error    Could not read", 0), std::string::npos) << e;
  }
  EXPECT_GT(round.last_round().stuck, 0);
}

}  // namespace
}  // namespace sorter
