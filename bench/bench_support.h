#pragma once
// What the store benchmarks share: e-mail files written by the library, stores laid out on
// disk (old e-mails as hard links, which cost no data and little time to make), figures from
// a list of samples, and the built headless sorter run as a child process.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start);

// The bytes of one e-mail as the library writes it, with a text of text_chars characters.
std::string mail_bytes(const fs::path& scratch, const std::string& from, const std::string& to,
                       std::size_t text_chars = 600);

void write_file(const fs::path& path, std::string_view bytes);

// stem, the number n in decimal, then tail: "old" 3 ".eml" is "old3.eml".
std::string numbered(std::string_view stem, long n, std::string_view tail = {});
std::string user_name(int m);  // "user<m>"

// A store: MailBank, Error and MailBox/user<m>/{Inbox,Buffer} for m < mailboxes, each Inbox
// with the timeStamp.dat of a mailbox in use. Anything there before is removed.
void make_store(const fs::path& root, int mailboxes);

// count old e-mails in folder, named old<k>.eml: the first a file of its own, the others hard
// links to it.
void add_old_mails(const fs::path& folder, int count, std::string_view bytes);

// Number of entries in a folder.
std::size_t entries_in(const fs::path& folder);

struct Spread {
  double min;
  double median;
  double max;
};
Spread spread(std::vector<double> values);
// The nearest-rank percentile (0 < p <= 100) of values, not empty.
double percentile(std::vector<double> values, double p);

// The built headless sorter (CORVANE_BENCH_SORTER unless the environment's CORVANE_SORTER
// names another).
std::string default_sorter_program();

// A child process started with argv (argv[0] the program's path), its standard output and
// error appended to output.
pid_t spawn(const std::vector<std::string>& argv, const fs::path& output);

struct Finished {
  int status;          // as waitpid reports it
  long max_rss_kib;    // the child's peak resident set (ru_maxrss)
  double seconds;      // from start to its end
};
// Waits for a child spawned at start; after timeout_seconds sends SIGKILL first.
Finished wait_for(pid_t pid, Clock::time_point start, double timeout_seconds);
// spawn and wait_for in one.
Finished run(const std::vector<std::string>& argv, const fs::path& output,
             double timeout_seconds);
std::string describe(int status);  // "exit 0", "signal 9"

}  // namespace bench
