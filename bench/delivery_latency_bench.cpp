// How long a pupil waits: the built headless sorter runs on a scratch store with its default
// options (or the ones given after --), and a writer drops N e-mails into MailBank at random
// moments, each file
//   single: opened, written and closed in one go;
//   paused: opened, half written, left open for a random pause, the rest written, closed.
// For each file the time from the writer's (last) close to its name appearing in the
// recipient's Inbox is taken (an inotify watch on the Inbox, read by a thread of its own).
// Prints the count, median, p90 and worst for each mode, and any file that went to Error,
// arrived before its close, arrived short, or never arrived within the patience.
//
//   delivery_latency_bench [--files N] [--mode single|paused|both] [--max-gap S]
//                          [--max-pause S] [--patience S] [--seed N] [--sorter PATH]
//                          [-- SORTER ARGUMENTS...]
//
// The writer is a process of its own (this program run with --writer), so that the sorter
// sees the drop files held by another process, as a pupil's client holds them.
//
// Defaults: 15 files a mode, gaps up to 3 s, pauses 0.5 to 3 s (longer than the settling time),
// patience 30 s after the last close; about 100 s in all with the 10 s interval.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"

namespace {

namespace fs = std::filesystem;
using bench::Clock;

struct Args {
  int files = 15;
  bool single = true;
  bool paused = true;
  double max_gap = 3.0;
  double min_pause = 0.5;
  double max_pause = 3.0;
  double patience = 30.0;
  unsigned seed = 0;
  std::string sorter = bench::default_sorter_program();
  std::vector<std::string> sorter_args;
};

Args parse(int argc, char** argv) {
  Args a;
  a.seed = static_cast<unsigned>(std::random_device{}());
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      a.sorter_args.assign(argv + i + 1, argv + argc);
      break;
    }
    if (i + 1 >= argc) throw std::invalid_argument("missing value after " + arg);
    const std::string value = argv[++i];
    if (arg == "--files") {
      a.files = std::stoi(value);
    } else if (arg == "--mode") {
      a.single = value == "single" || value == "both";
      a.paused = value == "paused" || value == "both";
      if (!a.single && !a.paused) throw std::invalid_argument("--mode single|paused|both");
    } else if (arg == "--max-gap") {
      a.max_gap = std::stod(value);
    } else if (arg == "--max-pause") {
      a.max_pause = std::stod(value);
    } else if (arg == "--patience") {
      a.patience = std::stod(value);
    } else if (arg == "--seed") {
      a.seed = static_cast<unsigned>(std::stoul(value));
    } else if (arg == "--sorter") {
      a.sorter = value;
    } else {
      throw std::invalid_argument("unknown option " + arg);
    }
  }
  if (a.files < 1) throw std::invalid_argument("--files must be at least 1");
  return a;
}

// Names arriving in the Inbox and in Error, with the moment each was first seen.
class Arrivals {
 public:
  Arrivals(const fs::path& inbox, const fs::path& error) : fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
    if (fd_ < 0) throw std::runtime_error("inotify_init1 failed");
    inbox_ = ::inotify_add_watch(fd_, inbox.c_str(), IN_MOVED_TO | IN_CREATE);
    error_ = ::inotify_add_watch(fd_, error.c_str(), IN_MOVED_TO | IN_CREATE);
    if (inbox_ < 0 || error_ < 0) throw std::runtime_error("inotify_add_watch failed");
    reader_ = std::thread([this] { read(); });
  }
  ~Arrivals() {
    stop_ = true;
    reader_.join();
    ::close(fd_);
  }
  std::optional<Clock::time_point> in_inbox(const std::string& name) const {
    std::lock_guard lock(mutex_);
    const auto found = inbox_seen_.find(name);
    if (found == inbox_seen_.end()) return std::nullopt;
    return found->second;
  }
  bool in_error(const std::string& name) const {
    std::lock_guard lock(mutex_);
    return error_seen_.count(name) != 0;
  }

 private:
  void read() {
    alignas(inotify_event) char buffer[64 * 1024];
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      const auto now = Clock::now();
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        if (e->len == 0) continue;
        std::lock_guard lock(mutex_);
        if (e->wd == inbox_) inbox_seen_.emplace(e->name, now);
        if (e->wd == error_) error_seen_.emplace(e->name, now);
      }
    }
  }

  int fd_;
  int inbox_ = -1;
  int error_ = -1;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::map<std::string, Clock::time_point> inbox_seen_;
  std::map<std::string, Clock::time_point> error_seen_;
  std::thread reader_;
};

void sleep_seconds(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

void write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) throw std::runtime_error(std::string("write: ") + std::strerror(errno));
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

// The moments just before the writer's close was called and just after it returned.
struct Close {
  Clock::time_point called;
  Clock::time_point returned;
};

// Writes one drop file, with a pause in the middle when pause > 0.
Close drop(const fs::path& path, const std::string& bytes, double pause) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("open " + path.string() + ": " + std::strerror(errno));
  const std::size_t half = pause > 0 ? bytes.size() / 2 : bytes.size();
  write_all(fd, bytes.data(), half);
  if (pause > 0) {
    sleep_seconds(pause);
    write_all(fd, bytes.data() + half, bytes.size() - half);
  }
  const auto called = Clock::now();
  ::close(fd);
  return {called, Clock::now()};
}

// One file the writer drops: after waiting gap seconds, written with a pause inside when
// pause > 0.
struct Planned {
  std::string name;
  double gap;
  double pause;
};

// The writer process: `--writer FOLDER BYTES-FILE NAME GAP PAUSE ...`. Drops each planned file
// into FOLDER and prints "NAME CALLED RETURNED" for it: the steady clock (CLOCK_MONOTONIC, the
// same in every process of the machine) in nanoseconds around its close.
int writer_main(int argc, char** argv) {
  if (argc < 4 || (argc - 4) % 3 != 0) {
    std::fprintf(stderr, "delivery_latency_bench --writer FOLDER BYTES-FILE [NAME GAP PAUSE]...\n");
    return 1;
  }
  const fs::path folder = argv[2];
  std::ifstream in(argv[3], std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  for (int i = 4; i + 2 < argc; i += 3) {
    sleep_seconds(std::stod(argv[i + 1]));
    const Close closed = drop(folder / argv[i], bytes, std::stod(argv[i + 2]));
    const auto ns = [](Clock::time_point t) {
      return static_cast<long long>(
          std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
    };
    std::printf("%s %lld %lld\n", argv[i], ns(closed.called), ns(closed.returned));
    std::fflush(stdout);
  }
  return 0;
}

// Runs the plan in a writer process of its own and returns each file's close as it reported
// it; a file it did not report is missing from the map.
std::map<std::string, Close> run_writer(const std::vector<Planned>& plan,
                                                    const fs::path& store,
                                                    const fs::path& bytes_file) {
  std::vector<std::string> argv{"/proc/self/exe", "--writer", (store / "MailBank").string(),
                                bytes_file.string()};
  double longest = 30;
  for (const auto& p : plan) {
    argv.insert(argv.end(), {p.name, std::to_string(p.gap), std::to_string(p.pause)});
    longest += p.gap + p.pause;
  }
  const fs::path output = store / ("writer-" + plan.front().name + ".txt");
  const auto end = bench::run(argv, output, longest);
  if (!WIFEXITED(end.status) || WEXITSTATUS(end.status) != 0) {
    std::printf("the writer ended with %s\n", bench::describe(end.status).c_str());
  }
  const auto at = [](long long ns) {
    return Clock::time_point(
        std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns)));
  };
  std::map<std::string, Close> closed;
  std::ifstream in(output);
  std::string name;
  long long called = 0, returned = 0;
  while (in >> name >> called >> returned) closed.emplace(name, Close{at(called), at(returned)});
  return closed;
}

bool mode_run(const char* mode, bool paused, const Args& a, const fs::path& store,
              const fs::path& bytes_file, std::size_t size, std::mt19937& random,
              Arrivals& arrivals) {
  std::uniform_real_distribution<double> gap(0.0, a.max_gap);
  std::uniform_real_distribution<double> pause(a.min_pause, a.max_pause);
  std::vector<Planned> plan;
  for (int i = 0; i < a.files; ++i) {
    const double g = gap(random);
    plan.push_back({std::string(mode) + std::to_string(i) + ".eml", g, paused ? pause(random) : 0});
  }
  const auto closed = run_writer(plan, store, bytes_file);
  // Each file has the patience from its own close; the wait ends when every file is in the
  // Inbox or Error, or the last one's patience is over.
  const auto patience = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(a.patience));
  auto last_close = Clock::now();
  for (const auto& [name, at] : closed) last_close = std::max(last_close, at.returned);
  const auto done = [&] {
    for (const auto& [name, at] : closed) {
      if (!arrivals.in_inbox(name) && !arrivals.in_error(name)) return false;
    }
    return true;
  };
  while (!done() && Clock::now() < last_close + patience) sleep_seconds(0.01);

  std::vector<double> waits;
  std::vector<std::string> late;
  int to_error = 0, early = 0, short_ = 0, unwritten = 0;
  for (const auto& p : plan) {
    const auto at = closed.find(p.name);
    if (at == closed.end()) {
      ++unwritten;
      continue;
    }
    if (arrivals.in_error(p.name)) ++to_error;
    const auto seen = arrivals.in_inbox(p.name);
    if (!seen) {
      if (!arrivals.in_error(p.name)) late.push_back(p.name);
      continue;
    }
    // Before the close was called the writer still held the file: it must not be taken. Seen
    // while the close was under way counts as no wait.
    if (*seen < at->second.called) ++early;
    std::error_code ec;
    if (fs::file_size(store / "MailBox" / "pupil" / "Inbox" / p.name, ec) != size) ++short_;
    if (*seen > at->second.returned + patience) late.push_back(p.name);
    waits.push_back(
        std::max(0.0, std::chrono::duration<double>(*seen - at->second.returned).count()));
  }
  std::printf("%-6s write: %zu of %d in Inbox", mode, waits.size(), a.files);
  if (!waits.empty()) {
    std::printf(", close->Inbox median %.4f s, p90 %.4f s, worst %.4f s (best %.4f s)",
                bench::percentile(waits, 50), bench::percentile(waits, 90),
                bench::percentile(waits, 100), bench::spread(waits).min);
  }
  std::printf("\n");
  const int faults = to_error + early + short_ + unwritten + static_cast<int>(late.size());
  if (faults > 0) {
    std::printf("%-6s write: FAULTS: %d to Error, %d in Inbox before their close, %d short, "
                "%d not written, %zu not in the Inbox within %.0f s of their close:",
                mode, to_error, early, short_, unwritten, late.size(), a.patience);
    for (const auto& name : late) std::printf(" %s", name.c_str());
    std::printf("\n");
  }
  std::fflush(stdout);
  return faults == 0;
}

// The sorter has said it sorts the store (its load is done), or it has ended.
bool wait_until_loaded(pid_t pid, const fs::path& output) {
  const auto start = Clock::now();
  while (bench::seconds_since(start) < 30) {
    std::ifstream in(output);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (text.find("sorter: sorting ") != std::string::npos) return true;
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid) {
      return false;  // ended (left for wait_for to reap)
    }
    sleep_seconds(0.01);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--writer") {
    try {
      return writer_main(argc, argv);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "delivery_latency_bench writer: %s\n", e.what());
      return 1;
    }
  }
  Args a;
  try {
    a = parse(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "delivery_latency_bench: %s\n", e.what());
    return 1;
  }
  const fs::path store =
      fs::temp_directory_path() / ("corvane-latency-bench-" + std::to_string(::getpid()));
  bench::make_store(store, 0);
  fs::create_directories(store / "MailBox" / "pupil" / "Inbox");
  fs::create_directories(store / "MailBox" / "pupil" / "Buffer");
  fs::create_directories(store / "MailBox" / "teacher" / "Inbox");
  fs::create_directories(store / "MailBox" / "teacher" / "Buffer");
  const std::string bytes = bench::mail_bytes(store, "teacher", "pupil");
  const fs::path bytes_file = store / "drop-bytes.eml";
  bench::write_file(bytes_file, bytes);
  std::mt19937 random(a.seed);

  std::vector<std::string> command{a.sorter, "--store", store.string()};
  command.insert(command.end(), a.sorter_args.begin(), a.sorter_args.end());
  std::printf("sorter:");
  for (const auto& c : command) std::printf(" %s", c.c_str());
  std::printf("\n%d files a mode, e-mail %zu bytes, gaps 0-%.1f s, pauses %.1f-%.1f s, seed %u\n",
              a.files, bytes.size(), a.max_gap, a.min_pause, a.max_pause, a.seed);
  std::fflush(stdout);

  const fs::path output = store / "sorter-output.txt";
  const auto started = Clock::now();
  const pid_t sorter = bench::spawn(command, output);
  bool clean = false;
  {
    Arrivals arrivals(store / "MailBox" / "pupil" / "Inbox", store / "Error");
    if (wait_until_loaded(sorter, output)) {
      clean = true;
      if (a.single) clean &= mode_run("single", false, a, store, bytes_file, bytes.size(), random, arrivals);
      if (a.paused) clean &= mode_run("paused", true, a, store, bytes_file, bytes.size(), random, arrivals);
    } else {
      std::printf("the sorter did not start\n");
    }
  }
  ::kill(sorter, SIGTERM);
  const auto end = bench::wait_for(sorter, started, bench::seconds_since(started) + 20);
  std::ifstream in(output);
  const std::string said{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!clean || !WIFEXITED(end.status) || WEXITSTATUS(end.status) != 0) {
    std::printf("sorter ended with %s; it said:\n%s", bench::describe(end.status).c_str(),
                said.c_str());
  }
  fs::remove_all(store);
  return clean ? 0 : 1;
}
