// What a store full of old e-mails costs, each figure against the same store without them, in
// the same run:
//  round:   one round delivering one e-mail to each of M mailboxes (default 1,500) whose Inboxes
//           hold 200 old e-mails each, against the same round into empty Inboxes. The first
//           round of a fresh SortingRound ("cold") and the rounds after it on the same object
//           ("warm", what a running sorter does every tick) are shown apart.
//  startup: the engine's load (SorterEngine::load: the start-up clean-up of leftovers) and the
//           built sorter's whole `--once` run with an empty MailBank, on a store whose M
//           mailboxes hold T old e-mails in all, against the same mailboxes empty.
//  memory:  the peak resident set (ru_maxrss) of the built sorter's `--once` run over F drop
//           files into K mailboxes, beside the same run over an empty MailBank.
// Old e-mails are hard links: in each Inbox one file of its own and the others linked to it,
// so a store of 600,000 costs names, not data. Drop files are files of their own. The stores
// are made once and read from the page cache, as a running sorter finds them.
//
//   large_store_bench [--only round|startup|memory] [--mailboxes M] [--old N] [--cycles C]
//                     [--warm W] [--startup-mails T] [--startup-runs R]
//                     [--memory-files F] [--memory-mailboxes K] [--sorter PATH]
//
// Defaults: M 1,500, N 200, C 3 cycles of 1 cold and W 2 warm rounds; T 150,000 (600,000 is
// the size to judge by; it takes about a minute more to make and remove), R 5; F 20,000
// (100,000 to judge by), K 2,000. --only may be given more than once.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "platform/utf.h"
#include "sorter/engine/lifecycle.h"
#include "sorter/engine/sorting_round.h"

namespace {

namespace fs = std::filesystem;
using bench::Clock;

struct Args {
  std::set<std::string> only;
  int mailboxes = 1500;
  int old_per_inbox = 200;
  int cycles = 3;
  int warm = 2;
  int startup_mails = 150000;
  int startup_runs = 5;
  int memory_files = 20000;
  int memory_mailboxes = 2000;
  std::string sorter = bench::default_sorter_program();
  bool wants(const std::string& part) const { return only.empty() || only.count(part) != 0; }
};

Args parse(int argc, char** argv) {
  Args a;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) throw std::invalid_argument("missing value after " + arg);
    const std::string value = argv[++i];
    const auto number = [&] {
      const int n = std::stoi(value);
      if (n < 1) throw std::invalid_argument(arg + " must be at least 1");
      return n;
    };
    if (arg == "--only") {
      if (value != "round" && value != "startup" && value != "memory") {
        throw std::invalid_argument("--only round|startup|memory");
      }
      a.only.insert(value);
    } else if (arg == "--mailboxes") {
      a.mailboxes = number();
    } else if (arg == "--old") {
      a.old_per_inbox = number();
    } else if (arg == "--cycles") {
      a.cycles = number();
    } else if (arg == "--warm") {
      a.warm = number();
    } else if (arg == "--startup-mails") {
      a.startup_mails = number();
    } else if (arg == "--startup-runs") {
      a.startup_runs = number();
    } else if (arg == "--memory-files") {
      a.memory_files = number();
    } else if (arg == "--memory-mailboxes") {
      a.memory_mailboxes = number();
    } else if (arg == "--sorter") {
      a.sorter = value;
    } else {
      throw std::invalid_argument("unknown option " + arg);
    }
  }
  return a;
}

// Files younger than the settling time wait for a later round: let the dropped ones settle.
void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(2100)); }

void print_spread(const char* what, const std::vector<double>& values, const char* unit) {
  const auto s = bench::spread(values);
  std::printf("  %-34s median %8.4f %s (min %.4f, max %.4f, %zu runs)\n", what, s.median, unit,
              s.min, s.max, values.size());
}

// One store with its own round object and log, rounds timed one by one.
class RoundStore {
 public:
  explicit RoundStore(fs::path root) : root_(std::move(root)) {}
  void fresh_round() {
    round_.reset();
    log_ = std::make_unique<sorter::EventLog>();
    log_->StartLogging((root_ / "Error" / "SortErr.log").u16string(), sorter::LogMode::kFile);
    round_ = std::make_unique<sorter::SortingRound>(
        sorter::StorePaths(root_.u16string()), sorter::in_process_mail_reader_factory(), *log_,
        [] { return 46364.5; }, sorter::RoundOptions{});
    round_->bind((root_ / "MailBank").u16string());
  }
  double timed_round(int expected) {
    const auto start = Clock::now();
    round_->CheckMonitoring();
    round_->DoRounds();
    const double seconds = bench::seconds_since(start);
    if (round_->last_round().delivered != expected) {
      throw std::runtime_error("a round in " + root_.string() + " delivered " +
                               std::to_string(round_->last_round().delivered) + " of " +
                               std::to_string(expected));
    }
    return seconds;
  }
  const fs::path& root() const { return root_; }

 private:
  fs::path root_;
  std::unique_ptr<sorter::EventLog> log_;
  std::unique_ptr<sorter::SortingRound> round_;
};

void round_figures(const Args& a, const fs::path& scratch) {
  std::printf("round: one e-mail to each of %d mailboxes, Inboxes with %d old e-mails vs empty\n",
              a.mailboxes, a.old_per_inbox);
  const std::string old_mail = bench::mail_bytes(scratch, "teacher", "user0");
  std::vector<std::string> mails;
  for (int m = 0; m < a.mailboxes; ++m) {
    mails.push_back(bench::mail_bytes(scratch, "teacher", bench::user_name(m)));
  }
  RoundStore full(scratch / "round-old");
  RoundStore empty(scratch / "round-empty");
  const auto made = Clock::now();
  for (RoundStore* s : {&full, &empty}) bench::make_store(s->root(), a.mailboxes);
  for (int m = 0; m < a.mailboxes; ++m) {
    bench::add_old_mails(full.root() / "MailBox" / bench::user_name(m) / "Inbox",
                         a.old_per_inbox, old_mail);
  }
  std::printf("  stores made in %.1f s\n", bench::seconds_since(made));

  std::vector<double> cold_full, cold_empty, cold_ratio, warm_full, warm_empty, warm_ratio;
  for (int c = 0; c < a.cycles; ++c) {
    full.fresh_round();
    empty.fresh_round();
    for (int r = 0; r <= a.warm; ++r) {
      const std::string stem = bench::numbered("c", c) + bench::numbered("r", r, "-");
      for (const RoundStore* s : {&full, &empty}) {
        for (int m = 0; m < a.mailboxes; ++m) {
          bench::write_file(s->root() / "MailBank" / bench::numbered(stem, m, ".eml"),
                            mails[static_cast<std::size_t>(m)]);
        }
      }
      settle();
      // Turn about, so that neither side always comes first.
      double t_full = 0, t_empty = 0;
      if ((c + r) % 2 == 0) {
        t_full = full.timed_round(a.mailboxes);
        t_empty = empty.timed_round(a.mailboxes);
      } else {
        t_empty = empty.timed_round(a.mailboxes);
        t_full = full.timed_round(a.mailboxes);
      }
      std::printf("  cycle %d %s round: old %.4f s, empty %.4f s, old/empty %.2f\n", c,
                  r == 0 ? "cold" : "warm", t_full, t_empty, t_full / t_empty);
      (r == 0 ? cold_full : warm_full).push_back(t_full);
      (r == 0 ? cold_empty : warm_empty).push_back(t_empty);
      (r == 0 ? cold_ratio : warm_ratio).push_back(t_full / t_empty);
      // The Inboxes go back to what they held.
      for (const RoundStore* s : {&full, &empty}) {
        for (int m = 0; m < a.mailboxes; ++m) {
          fs::remove(s->root() / "MailBox" / bench::user_name(m) / "Inbox" /
                     bench::numbered(stem, m, ".eml"));
        }
      }
    }
  }
  print_spread("cold round, old Inboxes", cold_full, "s");
  print_spread("cold round, empty Inboxes", cold_empty, "s");
  print_spread("cold round old/empty", cold_ratio, "x");
  print_spread("warm round, old Inboxes", warm_full, "s");
  print_spread("warm round, empty Inboxes", warm_empty, "s");
  print_spread("warm round old/empty", warm_ratio, "x");
  for (const RoundStore* s : {&full, &empty}) fs::remove_all(s->root());
}

class QuietHost final : public sorter::EngineHost {
 public:
  bool start_despite_running_flag() override { return true; }
  bool another_copy_running() override { return false; }
};

double engine_load_seconds(const fs::path& root) {
  QuietHost host;
  const auto start = Clock::now();
  sorter::SorterEngine engine(sorter::StorePaths(root.u16string()), host,
                              sorter::in_process_mail_reader_factory());
  if (!engine.load()) throw std::runtime_error("the engine's load refused " + root.string());
  return bench::seconds_since(start);
}

double program_once_seconds(const Args& a, const fs::path& root) {
  const auto end = bench::run({a.sorter, "--store", root.string(), "--once"},
                              root / "sorter-output.txt", 600);
  if (!WIFEXITED(end.status) || WEXITSTATUS(end.status) != 0) {
    throw std::runtime_error("sorter --once on " + root.string() + " ended with " +
                             bench::describe(end.status));
  }
  return end.seconds;
}

void startup_figures(const Args& a, const fs::path& scratch) {
  const int per_inbox = (a.startup_mails + a.mailboxes - 1) / a.mailboxes;
  std::printf("startup: %d mailboxes holding %d old e-mails (%d an Inbox) vs the same empty\n",
              a.mailboxes, per_inbox * a.mailboxes, per_inbox);
  const fs::path full = scratch / "startup-old";
  const fs::path empty = scratch / "startup-empty";
  const std::string old_mail = bench::mail_bytes(scratch, "teacher", "user0");
  const auto made = Clock::now();
  bench::make_store(full, a.mailboxes);
  bench::make_store(empty, a.mailboxes);
  for (int m = 0; m < a.mailboxes; ++m) {
    bench::add_old_mails(full / "MailBox" / bench::user_name(m) / "Inbox", per_inbox, old_mail);
  }
  std::printf("  stores made in %.1f s\n", bench::seconds_since(made));
  // A first pass reads both stores into the page cache; it is not counted.
  engine_load_seconds(full);
  engine_load_seconds(empty);
  std::vector<double> load_full, load_empty, load_ratio, once_full, once_empty, once_ratio;
  for (int run = 0; run < a.startup_runs; ++run) {
    const bool full_first = run % 2 == 0;
    double f = 0, e = 0;
    if (full_first) f = engine_load_seconds(full);
    e = engine_load_seconds(empty);
    if (!full_first) f = engine_load_seconds(full);
    load_full.push_back(f);
    load_empty.push_back(e);
    load_ratio.push_back(f / e);
    if (full_first) f = program_once_seconds(a, full);
    e = program_once_seconds(a, empty);
    if (!full_first) f = program_once_seconds(a, full);
    once_full.push_back(f);
    once_empty.push_back(e);
    once_ratio.push_back(f / e);
  }
  print_spread("engine load, old e-mails", load_full, "s");
  print_spread("engine load, empty", load_empty, "s");
  print_spread("engine load old/empty", load_ratio, "x");
  print_spread("sorter --once, old e-mails", once_full, "s");
  print_spread("sorter --once, empty", once_empty, "s");
  print_spread("sorter --once old/empty", once_ratio, "x");
  const auto removed = Clock::now();
  fs::remove_all(full);
  fs::remove_all(empty);
  std::printf("  stores removed in %.1f s\n", bench::seconds_since(removed));
}

void memory_figures(const Args& a, const fs::path& scratch) {
  std::printf("memory: sorter --once over %d drop files into %d mailboxes vs an empty MailBank\n",
              a.memory_files, a.memory_mailboxes);
  const fs::path full = scratch / "memory-files";
  const fs::path empty = scratch / "memory-empty";
  std::vector<std::string> mails;
  for (int m = 0; m < a.memory_mailboxes; ++m) {
    mails.push_back(bench::mail_bytes(scratch, "teacher", bench::user_name(m)));
  }
  bench::make_store(full, a.memory_mailboxes);
  bench::make_store(empty, a.memory_mailboxes);
  for (int i = 0; i < a.memory_files; ++i) {
    bench::write_file(full / "MailBank" / bench::numbered("d", i, ".eml"),
                      mails[static_cast<std::size_t>(i % a.memory_mailboxes)]);
  }
  settle();
  const auto run_once = [&](const fs::path& root) {
    const auto end = bench::run({a.sorter, "--store", root.string(), "--once"},
                                root / "sorter-output.txt", 600);
    if (!WIFEXITED(end.status) || WEXITSTATUS(end.status) != 0) {
      throw std::runtime_error("sorter --once ended with " + bench::describe(end.status));
    }
    return end;
  };
  const auto baseline = run_once(empty);
  const auto round = run_once(full);
  const std::size_t left = bench::entries_in(full / "MailBank");
  std::printf("  empty MailBank: peak %.1f MiB (%.3f s); %d files: peak %.1f MiB (%.3f s), "
              "%zu left in MailBank; difference %.1f MiB\n",
              static_cast<double>(baseline.max_rss_kib) / 1024.0, baseline.seconds,
              a.memory_files, static_cast<double>(round.max_rss_kib) / 1024.0, round.seconds,
              left, static_cast<double>(round.max_rss_kib - baseline.max_rss_kib) / 1024.0);
  fs::remove_all(full);
  fs::remove_all(empty);
}

}  // namespace

int main(int argc, char** argv) {
  Args a;
  try {
    a = parse(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "large_store_bench: %s\n", e.what());
    return 1;
  }
  const fs::path scratch =
      fs::temp_directory_path() / ("corvane-large-store-bench-" + std::to_string(::getpid()));
  fs::create_directories(scratch);
  int status = 0;
  try {
    std::printf("sorter: %s\n", a.sorter.c_str());
    std::fflush(stdout);
    if (a.wants("round")) round_figures(a, scratch);
    std::fflush(stdout);
    if (a.wants("startup")) startup_figures(a, scratch);
    std::fflush(stdout);
    if (a.wants("memory")) memory_figures(a, scratch);
  } catch (const std::exception& e) {
    std::printf("large_store_bench: %s\n", e.what());
    status = 1;
  }
  fs::remove_all(scratch);
  return status;
}
