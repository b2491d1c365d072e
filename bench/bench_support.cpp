#include "bench/bench_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "corvane/object_model/mail_object_model.h"
#include "platform/utf.h"

extern char** environ;

namespace bench {

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string mail_bytes(const fs::path& scratch, const std::string& from, const std::string& to,
                       std::size_t text_chars) {
  corvane::EmailMsg mail;
  mail.emFrom = platform::from_utf8(from);
  mail.emTo = platform::from_utf8(to);
  mail.emSubject = u"Weekly report";
  mail.emCC = u"office";
  corvane::MsgText text;
  text.Value = std::u16string(text_chars, u'x');
  mail.emMsg.Texts = corvane::List<corvane::MsgText>::sized(0, {text});
  const fs::path file = scratch / ".sample.eml";
  fs::remove(file);
  corvane::MailObjectModel model;
  if (!model.SaveEmail(file.u16string(), mail)) throw std::runtime_error("SaveEmail failed");
  std::ifstream in(file, std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  fs::remove(file);
  return bytes;
}

void write_file(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("could not write " + path.string());
}

std::string numbered(std::string_view stem, long n, std::string_view tail) {
  // Appended piece by piece: gcc 12 warns falsely (-Wrestrict) of "literal" + std::string.
  std::string s(stem);
  s.append(std::to_string(n)).append(tail);
  return s;
}

std::string user_name(int m) { return numbered("user", m); }

void make_store(const fs::path& root, int mailboxes) {
  fs::remove_all(root);
  fs::create_directories(root / "MailBank");
  fs::create_directories(root / "Error");
  fs::create_directories(root / "MailBox");
  for (int m = 0; m < mailboxes; ++m) {
    const fs::path box = root / "MailBox" / user_name(m);
    fs::create_directories(box / "Inbox");
    fs::create_directories(box / "Buffer");
    write_file(box / "Inbox" / "timeStamp.dat", std::string_view("\0\0\0\0\0\0\0\0", 8));
  }
}

void add_old_mails(const fs::path& folder, int count, std::string_view bytes) {
  if (count <= 0) return;
  const fs::path first = folder / "old0.eml";
  write_file(first, bytes);
  const std::string source = first.string();
  for (int k = 1; k < count; ++k) {
    const std::string name = (folder / numbered("old", k, ".eml")).string();
    if (::link(source.c_str(), name.c_str()) != 0) {
      throw std::system_error(errno, std::generic_category(), "link " + name);
    }
  }
}

std::size_t entries_in(const fs::path& folder) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

Spread spread(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return {values.front(), values[values.size() / 2], values.back()};
}

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
  return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

std::string default_sorter_program() {
  if (const char* named = std::getenv("CORVANE_SORTER")) return named;
  return CORVANE_BENCH_SORTER;
}

pid_t spawn(const std::vector<std::string>& argv, const fs::path& output) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  const int e = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (e != 0) throw std::system_error(e, std::generic_category(), "cannot start " + argv[0]);
  return pid;
}

Finished wait_for(pid_t pid, Clock::time_point start, double timeout_seconds) {
  bool killed = false;
  for (;;) {
    int status = 0;
    rusage usage{};
    const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
    if (done == pid) return {status, usage.ru_maxrss, seconds_since(start)};
    if (done < 0) throw std::system_error(errno, std::generic_category(), "wait4");
    if (!killed && seconds_since(start) > timeout_seconds) {
      ::kill(pid, SIGKILL);
      killed = true;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
}

Finished run(const std::vector<std::string>& argv, const fs::path& output,
             double timeout_seconds) {
  const auto start = Clock::now();
  return wait_for(spawn(argv, output), start, timeout_seconds);
}

std::string describe(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

}  // namespace bench
