// A pupil at work against the store for a few seconds while real e-mails keep arriving, rounds
// run back to back and a teacher uses the console. The pupil (eve) keeps putting links and
// FIFOs at every name the round and the console open: drop files in MailBank (also in place of
// real e-mails, which it takes away for a moment and puts back), her Inbox's timeStamp.dat and
// the Inbox itself, her Client.ini, files in her Buffer and in Error. Afterwards every real
// e-mail lies exactly once in an Inbox, a Buffer or Error, nothing the pupil made reached
// another mailbox or Error (what lands in her own mailbox is hers: she may put links and FIFOs
// there herself), nothing outside the store changed, no round or request hung, and a stop
// request ended the round loop after the file at hand.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "corvane/model/record_codec.h"
#include "sorter/console/console_test_support.h"
#include "sorter/engine/test_store.h"

namespace sorter {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testsupport::read_bytes;
using testsupport::write_bytes;

constexpr auto kPlay = 3s;           // how long the pupil, the writer and the teacher are at work
constexpr auto kMailEvery = 4ms;     // the writer's pace
constexpr int kBurst = 300;          // e-mails waiting when the stop request comes
constexpr auto kHang = 20s;          // a thread that has not ended by then hangs
constexpr double kSlowSeconds = 5;   // a round or request this slow is reported
// A file's creation shows in the folder a moment before its creator's open counts as a writer,
// and a lease taken in between is granted: a short settling time covers that, as in service.
RoundOptions settling() {
  RoundOptions options;
  options.settle_seconds = 0.25;
  return options;
}

// The real e-mails: who writes to whom, by number.
struct Mail {
  std::string name;
  std::string to;  // a mailbox, or "nobody"
  std::vector<uint8_t> bytes;
};

// The name of the n-th e-mail to nobody.
std::string to_nobody(int n) { return "m" + std::to_string(n * 5 + 3) + ".eml"; }

Mail make_mail(int i) {
  static const char* const kPairs[][2] = {{"ann", "bob"}, {"ann", "eve"}, {"eve", "ann"},
                                          {"eve", "nobody"}, {"bob", "eve"}};
  const auto& pair = kPairs[i % 5];
  corvane::EmailMsg m;
  m.emFrom = platform::from_utf8(pair[0]);
  m.emTo = platform::from_utf8(pair[1]);
  m.emSubject = u"Mail " + platform::from_utf8(std::to_string(i));
  return {"m" + std::to_string(i) + ".eml", pair[1], corvane::encode_record(m)};
}

// Real e-mails as the writer has finished them, for the pupil to pick from.
class Published {
 public:
  void add(Mail mail) {
    const std::lock_guard lock(mutex_);
    mails_.push_back(std::move(mail));
  }
  std::vector<Mail> all() const {
    const std::lock_guard lock(mutex_);
    return mails_;
  }
  std::string pick(std::mt19937& random) const {
    const std::lock_guard lock(mutex_);
    if (mails_.empty()) return {};
    const std::size_t recent = std::min<std::size_t>(mails_.size(), 40);
    return mails_[mails_.size() - 1 - random() % recent].name;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Mail> mails_;
};

// The pupil. Everything it plants is a link or a FIFO; what it takes away it keeps in its
// hideout (same file system, outside the store) and puts back.
class Pupil {
 public:
  Pupil(const fs::path& store, const fs::path& outside)
      : store_(store), hideout_(outside / "hideout"), victim_(outside / "victim"),
        elsewhere_(outside / "elsewhere") {
    fs::create_directories(hideout_);
    fs::create_directories(elsewhere_);
    write_bytes(victim_, kVictim);
  }

  void play(const std::atomic<bool>& stop, const Published& mails) {
    std::mt19937 random(20261209);
    const fs::path eve = store_ / "MailBox" / "eve";
    const std::vector<fs::path> fixed = {
        store_ / "MailBank" / "p0.eml", store_ / "MailBank" / "p1.eml",
        eve / "Inbox" / "timeStamp.dat", eve / "Client.ini", eve / "Buffer" / "p.eml",
        store_ / "Error" / "p.eml"};
    while (!stop) {
      switch (random() % 6) {
        case 0:
        case 1: plant(fixed[random() % fixed.size()], random); break;
        case 2: steal(store_ / "MailBank" / mails.pick(random), random); break;
        case 3: steal_listed(eve / "Buffer", random); break;
        case 4: steal_listed(store_ / "Error", random); break;
        case 5: swap_inbox(eve / "Inbox"); break;
      }
      if (random() % 4 == 0) put_back_one();
      std::this_thread::sleep_for(200us);
    }
  }

  // Puts back all it took and takes away all it planted at names of its own.
  void tidy_up() {
    while (!hidden_.empty()) put_back_one();
    restore_inbox();
    for (const fs::path& p : planted_) {
      std::error_code ec;
      const auto status = fs::symlink_status(p, ec);
      if (!ec && !fs::is_regular_file(status) && !fs::is_directory(status)) fs::remove(p, ec);
    }
  }

  bool victim_untouched() const {
    return read_bytes(victim_) == kVictim && fs::is_empty(elsewhere_);
  }
  int tricks() const { return tricks_; }

 private:
  static inline const std::vector<uint8_t> kVictim{'n', 'o', 't', ' ', 'y', 'o', 'u', 'r', 's'};

  // A link (to the victim, to a folder outside, or dangling) or a FIFO, put at path at once.
  void plant(const fs::path& path, std::mt19937& random) {
    if (inbox_away_ && path.parent_path().filename() == "Inbox") return;  // not into elsewhere
    const std::string n = std::to_string(serial_++);
    const fs::path temp = hideout_ / ("t" + n);
    std::error_code ec;
    switch (random() % 4) {
      case 0: fs::create_symlink(victim_, temp, ec); break;
      case 1: fs::create_symlink(elsewhere_, temp, ec); break;
      case 2: fs::create_symlink(hideout_ / "nowhere", temp, ec); break;
      case 3:
        // A second name in the hideout keeps the FIFO within reach of a rescue once its name
        // in the store is gone.
        if (::mkfifo(temp.c_str(), 0666) != 0) return;
        fs::create_hard_link(temp, hideout_ / ("k" + n), ec);
        break;
    }
    if (ec) return;
    if (::rename(temp.c_str(), path.c_str()) != 0) {
      fs::remove(temp, ec);
      return;
    }
    planted_.push_back(path);
    ++tricks_;
  }

  // Takes the real file at path away and plants something in its place.
  void steal(const fs::path& path, std::mt19937& random) {
    if (path.filename().empty() || path.filename() == "MailBank") return;
    const fs::path kept = hideout_ / ("h" + std::to_string(serial_++));
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(path, ec))) return;
    if (::rename(path.c_str(), kept.c_str()) != 0) return;
    hidden_.emplace(kept, path);
    plant(path, random);
  }

  void steal_listed(const fs::path& folder, std::mt19937& random) {
    std::vector<fs::path> mails;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
      if (e.path().filename().string().rfind("m", 0) == 0) mails.push_back(e.path());
    }
    if (!mails.empty()) steal(mails[random() % mails.size()], random);
  }

  // What it took goes back over whatever is at its name now.
  void put_back_one() {
    if (hidden_.empty()) return;
    const auto it = hidden_.begin();
    if (::rename(it->first.c_str(), it->second.c_str()) != 0) {
      ADD_FAILURE() << "the pupil could not put back " << it->second;
    }
    hidden_.erase(it);
  }

  // The Inbox becomes a link to a folder outside for a while, then comes back.
  void swap_inbox(const fs::path& inbox) {
    if (inbox_away_) return restore_inbox();
    if (::rename(inbox.c_str(), (hideout_ / "Inbox").c_str()) != 0) return;
    inbox_away_ = true;
    std::error_code ec;
    fs::create_directory_symlink(elsewhere_, inbox, ec);
    ++tricks_;
  }
  void restore_inbox() {
    if (!inbox_away_) return;
    const fs::path inbox = store_ / "MailBox" / "eve" / "Inbox";
    std::error_code ec;
    fs::remove(inbox, ec);  // the link
    if (::rename((hideout_ / "Inbox").c_str(), inbox.c_str()) != 0) {
      ADD_FAILURE() << "the pupil could not put back her Inbox";
    }
    inbox_away_ = false;
  }

  fs::path store_, hideout_, victim_, elsewhere_;
  std::map<fs::path, fs::path> hidden_;  // hideout name -> where it was
  std::vector<fs::path> planted_;
  bool inbox_away_ = false;
  int serial_ = 0;
  int tricks_ = 0;
};

// A thread that counts as hung when it has not ended by a deadline.
class Worker {
 public:
  template <typename F>
  Worker(const char* name, F f) : name_(name), thread_([this, f] { f(); done_ = true; }) {}
  ~Worker() {
    if (thread_.joinable()) thread_.join();
  }
  bool ended_by(Clock::time_point deadline) {
    while (!done_ && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
    if (done_ && thread_.joinable()) thread_.join();
    return done_;
  }
  const char* name() const { return name_; }

 private:
  const char* name_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// Opens the other end of every FIFO below the folders, which ends any open waiting on one.
void rescue(const std::vector<fs::path>& folders) {
  for (const fs::path& folder : folders) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); it != fs::end(it);
         it.increment(ec)) {
      if (!fs::is_fifo(it->symlink_status(ec))) continue;
      const int fd = ::open(it->path().c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) ::close(fd);
    }
  }
}

// Waits for the workers; a hang fails the test and, when rescuing does not end it, the program.
void join_or_fail(std::vector<Worker*> workers, const std::vector<fs::path>& folders) {
  const auto deadline = Clock::now() + kHang;
  for (Worker* w : workers) {
    if (w->ended_by(deadline)) continue;
    ADD_FAILURE() << w->name() << " hangs";
    for (int i = 0; i < 20 && !w->ended_by(Clock::now() + 100ms); ++i) rescue(folders);
    if (!w->ended_by(Clock::now() + 5s)) {
      std::fprintf(stderr, "%s still hangs after the FIFOs were opened\n", w->name());
      std::abort();
    }
  }
}

// The teacher: every page, releases, retries, the monitoring switch and the error flag.
class Teacher {
 public:
  explicit Teacher(console::Console& console) : console_(console) {}

  void work(const std::atomic<bool>& stop) {
    const console::testing::Browser browser(console_, {{"token", "pupil-soak"}});
    cookie_ = browser.cookie, csrf_ = browser.csrf;
    static const char* const kPages[] = {"/", "/mailboxes", "/buffer", "/errors", "/log"};
    for (int i = 0; !stop; ++i) {
      send({.path = kPages[i % 5]});
      if (i % 3 == 0) post("/buffer/release-all", {{"box", i % 2 == 0 ? "eve" : "bob"}});
      if (i % 7 == 0) post("/monitoring", {{"value", i % 14 == 0 ? "on" : "off"}});
      if (i % 5 == 0) post("/mailboxes/clear-flag", {{"box", "eve"}});
      // Now and then one of the mails to nobody goes back to MailBank for another round.
      if (i % 11 == 0) post("/errors/retry", {{"file", to_nobody(i / 11)}});
      if (i % 4 == 0) post("/buffer/release", {{"box", "eve"}, {"file", "p.eml"}});
    }
  }
  double slowest() const { return slowest_; }
  std::vector<std::string> failures() const { return failures_; }
  int requests() const { return requests_; }

 private:
  console::Response send(console::Request r) {
    if (!cookie_.empty()) r.headers["cookie"] = cookie_;
    const auto start = Clock::now();
    console::Response answer = console_.handle(r);
    slowest_ = std::max(slowest_, std::chrono::duration<double>(Clock::now() - start).count());
    ++requests_;
    if (answer.status >= 400 && failures_.size() < 10) {
      failures_.push_back(r.method + " " + r.path + ": " + std::to_string(answer.status) + " " +
                          answer.body.substr(0, answer.body.find('\n')));
    }
    return answer;
  }
  void post(std::string path, std::multimap<std::string, std::string> params) {
    params.emplace("csrf", csrf_);
    send({.method = "POST", .path = std::move(path), .params = std::move(params)});
  }

  console::Console& console_;
  std::string cookie_, csrf_;
  double slowest_ = 0;
  int requests_ = 0;
  std::vector<std::string> failures_;
};

console::ConsoleOptions teacher_options() {
  console::ConsoleOptions o;
  o.access_token = "pupil-soak";
  o.clock = [] { return testing::kNow; };
  o.random = [n = 0]() mutable { return "secret" + std::to_string(++n); };
  return o;
}

// Where the e-mail could rightly be: its recipient's Inbox or Buffer, or Error.
std::vector<fs::path> rightful_places(const fs::path& root, const Mail& mail) {
  if (mail.to == "nobody") return {root / "Error"};
  const fs::path box = root / "MailBox" / mail.to;
  return {box / "Inbox", box / "Buffer"};
}

// Every folder a real e-mail may end up in, or could wrongly land in.
std::vector<fs::path> every_folder(const fs::path& root) {
  std::vector<fs::path> folders = {root / "MailBank", root / "Error"};
  for (const char* user : {"ann", "bob", "eve"}) {
    folders.push_back(root / "MailBox" / user / "Inbox");
    folders.push_back(root / "MailBox" / user / "Buffer");
  }
  return folders;
}

TEST(PupilSoak, EveryRealEmailIsDeliveredOnceWhateverThePupilPlants) {
  console::testing::ConsoleRig rig(teacher_options());
  testing::TestStore& store = rig.store;
  const fs::path root = store.root();
  store.add_mailbox("eve");
  testsupport::TempDir outside;
  Pupil pupil(root, outside.path());

  std::atomic<bool> stop_play{false}, stop_rounds{false};
  std::atomic<int> reads{0}, reads_after_stop{0};
  EventLog round_log([] { return testing::kNow; });
  round_log.StartLogging(store.paths().log_file(), LogMode::kFile);  // what a failure shows
  const double now = testing::kNow;
  const auto count_reads = [&](const std::u16string&) {
    ++reads;
    if (stop_rounds) ++reads_after_stop;
  };
  auto round =
      testing::bound_round(store, round_log, now, testing::hooked_reader(count_reads), settling());
  round->set_stop_request([&] { return stop_rounds.load(); });
  double slowest_round = 0;
  int rounds = 0;
  const auto run_round = [&] {
    const std::lock_guard lock(rig.lock);
    const auto start = Clock::now();
    round->CheckMonitoring();
    round->DoRounds();
    slowest_round =
        std::max(slowest_round, std::chrono::duration<double>(Clock::now() - start).count());
    ++rounds;
  };

  Published published;
  int next = 0;
  Worker rounds_loop("the round loop", [&] {
    while (!stop_rounds) {
      run_round();
      std::this_thread::sleep_for(1ms);  // the console gets the lock now and then
    }
  });
  Worker writer("the writer", [&] {
    while (!stop_play) {
      Mail mail = make_mail(next++);
      write_bytes(store.drop() / mail.name, mail.bytes);
      published.add(std::move(mail));
      std::this_thread::sleep_for(kMailEvery);
    }
  });
  Teacher teacher(rig.console);
  Worker teaching("the console", [&] { teacher.work(stop_play); });
  Worker pupils("the pupil", [&] { pupil.play(stop_play, published); });

  std::this_thread::sleep_for(kPlay);
  stop_play = true;
  join_or_fail({&pupils, &writer, &teaching}, {root, outside.path()});

  // Many settled files waiting, the round loop among them: the stop request ends it after one
  // file.
  int reads_before_burst = 0;
  {
    const std::lock_guard lock(rig.lock);  // no round meanwhile
    for (int i = 0; i < kBurst; ++i) {
      Mail mail = make_mail(next++);
      write_bytes(store.drop() / mail.name, mail.bytes);
      fs::last_write_time(store.drop() / mail.name, fs::file_time_type::clock::now() - 1s);
      published.add(std::move(mail));
    }
    reads_before_burst = reads;
  }
  const auto burst_deadline = Clock::now() + kHang;
  while (reads < reads_before_burst + 5 && Clock::now() < burst_deadline) std::this_thread::yield();
  stop_rounds = true;
  join_or_fail({&rounds_loop}, {root, outside.path()});
  EXPECT_LE(reads_after_stop, 1);
  EXPECT_GT(testing::file_count(store.drop()), 0u) << "the burst was sorted despite the stop";

  pupil.tidy_up();
  stop_rounds = false;
  std::this_thread::sleep_for(std::chrono::duration<double>(settling().settle_seconds));
  // A file left for a later round (a broken lease, another file at its name) gets rounds and
  // time enough.
  for (int i = 0; i < 20 && testing::file_count(store.drop()) > 0; ++i) {
    run_round();
    std::this_thread::sleep_for(50ms);
  }

  EXPECT_GT(pupil.tricks(), 100);
  EXPECT_GT(teacher.requests(), 50);
  EXPECT_GT(rounds, 10);
  EXPECT_LT(slowest_round, kSlowSeconds);
  EXPECT_LT(teacher.slowest(), kSlowSeconds);
  EXPECT_EQ(teacher.failures(), std::vector<std::string>{});
  EXPECT_TRUE(pupil.victim_untouched());

  // Each real e-mail once, where it belongs; nothing the pupil made outside her own mailbox.
  std::vector<std::string> misplaced, strays;
  const auto folders = every_folder(root);
  for (const Mail& mail : published.all()) {
    std::vector<fs::path> found;
    for (const fs::path& folder : folders) {
      const fs::path p = folder / mail.name;
      if (fs::is_regular_file(fs::symlink_status(p)) && read_bytes(p) == mail.bytes) {
        found.push_back(folder);
      }
    }
    const auto rightful = rightful_places(root, mail);
    const bool right = found.size() == 1 &&
                       std::find(rightful.begin(), rightful.end(), found[0]) != rightful.end();
    if (!right && misplaced.size() < 20) {
      std::string places;
      for (const auto& f : found) places += " " + f.lexically_relative(root).string();
      std::string said;  // what the log says of it
      for (const std::string& line : store.log_lines()) {
        if (line.find(mail.name) != std::string::npos) said += "\n  " + line;
      }
      misplaced.push_back(mail.name + " to " + mail.to + " found in:" +
                          (places.empty() ? " none" : places) + said);
    }
  }
  for (const fs::path& folder : folders) {
    if (folder.parent_path() == root / "MailBox" / "eve") continue;  // hers to fill
    for (const auto& e : fs::directory_iterator(folder)) {
      if (e.is_regular_file() && !e.is_symlink()) continue;
      strays.push_back(e.path().lexically_relative(root).string());
    }
  }
  EXPECT_EQ(misplaced, std::vector<std::string>{});
  EXPECT_EQ(strays, std::vector<std::string>{});
}

// The pupil swaps her e-mail for a link or a FIFO after the round has read it and before it moves
// it: what then lies at the name is not the e-mail that was read, and must not reach bob.
TEST(PupilSoak, ANameSwappedAfterTheReadIsNotDelivered) {
  for (const bool fifo : {false, true}) {
    SCOPED_TRACE(fifo ? "FIFO" : "link");
    testing::TestStore store;
    store.add_mailbox("bob");
    testsupport::TempDir outside;
    write_bytes(outside / "secret", {'s'});
    store.drop_mail("a.eml", u"eve", u"bob");
    EventLog log([] { return testing::kNow; });
    const double now = testing::kNow;
    const fs::path name = store.drop() / "a.eml";
    auto round = testing::bound_round(store, log, now, testing::hooked_reader([&](const auto&) {
      fs::rename(name, outside / "a.eml");
      if (fifo) {
        ASSERT_EQ(::mkfifo(name.c_str(), 0666), 0);
      } else {
        fs::create_symlink(outside / "secret", name);
      }
    }));
    round->DoRounds();
    const auto delivered = fs::symlink_status(store.root() / "MailBox" / "bob" / "Inbox" / "a.eml");
    EXPECT_FALSE(fs::is_symlink(delivered) || fs::is_fifo(delivered));
    EXPECT_EQ(read_bytes(outside / "secret"), std::vector<uint8_t>{'s'});
  }
}

}  // namespace
}  // namespace sorter
