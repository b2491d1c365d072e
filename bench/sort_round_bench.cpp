// One sorting round over N e-mails addressed to 100 mailboxes, against a floor program that
// only opens each file, reads its first 4 KiB, closes it and renames it into a mailbox on the
// same file system: the least any sorter must do. Prints both throughputs, their ratio, and
// the heap the round held at its peak (live bytes above what was allocated before it began),
// which must not grow with N: the round holds one e-mail at a time and reads the drop folder
// as a stream. Beside the wall-clock times it prints the processor time (user + system) each
// side took, which other programs on a busy machine disturb less, and that of the round's own
// thread: the round lists, opens and closes the drop files on a second thread beside it, so on
// an idle machine with two cores its wall-clock time follows its own thread's.
//
//   sort_round_bench [N ...]      (default: 10000 100000; SORT_BENCH_RUNS runs a size, default 5)

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "corvane/object_model/mail_object_model.h"
#include "platform/utf.h"
#include "sorter/engine/sorting_round.h"

namespace {

// Heap accounting through the global allocation functions, from every thread of the round.
std::atomic<std::size_t> live_bytes{0};
std::atomic<std::size_t> peak_bytes{0};

void note_alloc(void* p) {
  if (p == nullptr) return;
  const std::size_t live = live_bytes.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
  std::size_t peak = peak_bytes.load();
  while (live > peak && !peak_bytes.compare_exchange_weak(peak, live)) {
  }
}

}  // namespace

void* operator new(std::size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  note_alloc(p);
  return p;
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept {
  if (p != nullptr) live_bytes -= malloc_usable_size(p);
  std::free(p);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Processor time so far, user and system, in seconds: of the process, or of the calling thread.
double cpu_seconds(int who = RUSAGE_SELF) {
  rusage u {};
  ::getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Timing {
  double wall;
  double cpu;
  double thread_cpu = 0.0;  // the round's own thread (the files' opener works beside it)
};
constexpr int kMailboxes = 100;

std::string user(int m) { return "user" + std::to_string(m); }

// One e-mail file's bytes per mailbox, written by the library.
std::vector<std::string> sample_mails(const fs::path& scratch) {
  std::vector<std::string> mails;
  corvane::MailObjectModel model;
  for (int m = 0; m < kMailboxes; ++m) {
    corvane::EmailMsg mail;
    mail.emFrom = u"teacher";
    mail.emTo = platform::from_utf8(user(m));
    mail.emSubject = u"Weekly report";
    mail.emCC = u"office";
    corvane::MsgText text;
    text.Value = std::u16string(600, u'x');
    mail.emMsg.Texts = corvane::List<corvane::MsgText>::sized(0, {text});
    const fs::path file = scratch / "sample.eml";
    fs::remove(file);
    model.SaveEmail(file.u16string(), mail);
    std::ifstream in(file, std::ios::binary);
    mails.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return mails;
}

void make_store(const fs::path& root, int files, const std::vector<std::string>& mails) {
  fs::remove_all(root);
  fs::create_directories(root / "MailBank");
  fs::create_directories(root / "Error");
  for (int m = 0; m < kMailboxes; ++m) {
    fs::create_directories(root / "MailBox" / user(m) / "Inbox");
    fs::create_directories(root / "MailBox" / user(m) / "Buffer");
    // A mailbox in use has the stamp of its last delivery: the round rewrites it in place.
    std::ofstream(root / "MailBox" / user(m) / "Inbox" / "timeStamp.dat", std::ios::binary).write("\0\0\0\0\0\0\0", 8);
  }
  for (int i = 0; i < files; ++i) {
    std::ofstream out(root / "MailBank" / ("m" + std::to_string(i) + ".eml"), std::ios::binary);
    out << mails[static_cast<std::size_t>(i % kMailboxes)];
  }
}

// The floor: open, read 4 KiB, close, rename into the mailbox the file's number names.
Timing floor_round(const fs::path& root) {
  const std::string drop = (root / "MailBank").string();
  const double cpu_start = cpu_seconds();
  const auto start = Clock::now();
  DIR* dir = ::opendir(drop.c_str());
  std::vector<char> buffer(4096);
  while (const dirent* e = ::readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    const std::string from = drop + "/" + e->d_name;
    const int fd = ::open(from.c_str(), O_RDONLY);
    if (fd < 0) continue;
    if (::read(fd, buffer.data(), buffer.size()) < 0) std::perror("read");
    ::close(fd);
    const int n = std::atoi(e->d_name + 1);
    const std::string to =
        (root / "MailBox" / user(n % kMailboxes) / "Inbox" / e->d_name).string();
    if (::rename(from.c_str(), to.c_str()) != 0) std::perror("rename");
  }
  ::closedir(dir);
  return {std::chrono::duration<double>(Clock::now() - start).count(), cpu_seconds() - cpu_start};
}

struct RoundResult {
  Timing time;
  std::size_t peak_heap;
  sorter::RoundReport report;
};

RoundResult engine_round(const fs::path& root) {
  sorter::EventLog log;
  log.StartLogging((root / "Error" / "SortErr.log").u16string(), sorter::LogMode::kFile);
  sorter::SortingRound round(sorter::StorePaths(root.u16string()),
                             sorter::in_process_mail_reader_factory(), log,
                             [] { return 46364.5; }, sorter::RoundOptions{});
  round.bind((root / "MailBank").u16string());
  const std::size_t base = live_bytes;
  peak_bytes = live_bytes.load();
  const double cpu_start = cpu_seconds();
  const double thread_start = cpu_seconds(RUSAGE_THREAD);
  const auto start = Clock::now();
  round.CheckMonitoring();
  round.DoRounds();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return {{seconds, cpu_seconds() - cpu_start, cpu_seconds(RUSAGE_THREAD) - thread_start},
          peak_bytes - base,
          round.last_round()};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {10000, 100000};
  const char* runs_text = std::getenv("SORT_BENCH_RUNS");
  const int runs = std::max(1, runs_text != nullptr ? std::atoi(runs_text) : 5);
  const fs::path root = fs::temp_directory_path() / ("corvane-sort-bench-" + std::to_string(::getpid()));
  fs::create_directories(root);
  const auto mails = sample_mails(root);
  std::printf("e-mail file size: %zu bytes, %d mailboxes, %d runs a size\n", mails[0].size(),
              kMailboxes, runs);
  std::fflush(stdout);
  for (const int n : sizes) {
    std::vector<double> wall_ratios;
    std::vector<double> cpu_ratios;
    std::vector<double> thread_ratios;
    std::size_t peak_heap = 0;
    for (int run = 0; run < runs; ++run) {
      make_store(root / "store", n, mails);
      // Both sides start from a store written as long ago, so that neither waits for the
      // other's writes to reach the disk.
      std::this_thread::sleep_for(std::chrono::milliseconds(2100));
      const Timing floor = floor_round(root / "store");

      make_store(root / "store", n, mails);
      // Files younger than two seconds wait for a later round: let them settle first.
      std::this_thread::sleep_for(std::chrono::milliseconds(2100));
      const RoundResult r = engine_round(root / "store");
      if (r.report.delivered != n) {
        std::printf("round delivered %d of %d files\n", r.report.delivered, n);
        return 1;
      }
      std::printf("%7d files: round %8.0f files/s (%.3f s, cpu %.3f s, its thread %.3f s), "
                  "floor %8.0f files/s (%.3f s, cpu %.3f s), round/floor %.2f (cpu %.2f, "
                  "its thread %.2f), round peak heap %.1f KiB\n",
                  n, n / r.time.wall, r.time.wall, r.time.cpu, r.time.thread_cpu, n / floor.wall,
                  floor.wall, floor.cpu, floor.wall / r.time.wall, floor.cpu / r.time.cpu,
                  floor.cpu / r.time.thread_cpu, static_cast<double>(r.peak_heap) / 1024.0);
      // Each run's line is out at once: a run stopped early still leaves the runs before it.
      std::fflush(stdout);
      wall_ratios.push_back(floor.wall / r.time.wall);
      cpu_ratios.push_back(floor.cpu / r.time.cpu);
      thread_ratios.push_back(floor.cpu / r.time.thread_cpu);
      peak_heap = std::max(peak_heap, r.peak_heap);
    }
    // One run is at the mercy of whatever else the machine does; the median of several is not.
    std::printf("%7d files: median round/floor %.2f (cpu %.2f, its thread %.2f) over %d runs, "
                "round peak heap %.1f KiB\n",
                n, median(wall_ratios), median(cpu_ratios), median(thread_ratios), runs,
                static_cast<double>(peak_heap) / 1024.0);
    std::fflush(stdout);
  }
  fs::remove_all(root);
  return 0;
}
