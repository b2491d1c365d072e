#pragma once
// A program started by a test: its standard output and error go to files, it can be sent a
// signal, and it is waited for with a bound that guards against a hang (not a timing check).
// A process the test leaves running is killed when the object goes.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace testsupport {

// Polls condition every 20 ms for up to limit; true as soon as it holds.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class ChildProcess {
 public:
  // Not an exit code: the process ended by a signal, or was still running at the bound.
  static constexpr int kKilledBySignal = -1;
  static constexpr int kStillRunning = -2;

  // Standard input is the caller's unless stdin_file names a file to read it from.
  ChildProcess(const std::string& program, std::vector<std::string> args,
               std::filesystem::path stdout_file, std::filesystem::path stderr_file,
               const std::filesystem::path& stdin_file = {})
      : stdout_file_(std::move(stdout_file)), stderr_file_(std::move(stderr_file)) {
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, stdout_file_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, stderr_file_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!stdin_file.empty()) {
      posix_spawn_file_actions_addopen(&actions, 0, stdin_file.c_str(), O_RDONLY, 0);
    }
    const int failed =
        posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) throw std::runtime_error("cannot start " + program);
  }
  ~ChildProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void signal(int number) const {
    if (pid_ > 0) ::kill(pid_, number);
  }

  // The exit code once the process ends, kKilledBySignal, or kStillRunning after limit.
  int wait(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    int status = 0;
    const bool ended = eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
    if (!ended) return kStillRunning;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : kKilledBySignal;
  }

  std::string out() const { return read_text(stdout_file_); }
  std::string err() const { return read_text(stderr_file_); }

 private:
  std::filesystem::path stdout_file_;
  std::filesystem::path stderr_file_;
  pid_t pid_ = -1;
};

}  // namespace testsupport
