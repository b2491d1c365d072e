// The built sorter run twice on one store, each with a console and the same token file: the
// second copy stops with exit 4 and leaves the first one's token file and console as they were.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace {

// A started sorter, its standard error going to a file; killed if the test leaves it running.
class SorterProcess {
 public:
  SorterProcess(std::vector<std::string> args, const std::string& stderr_file) {
    args.insert(args.begin(), SORTER_PROGRAM);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, stderr_file.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&pid_, SORTER_PROGRAM, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~SorterProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  bool started() const { return pid_ > 0; }
  // The exit code, or -1 when it ended otherwise.
  int wait() {
    int status = 0;
    if (::waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void stop() { ::kill(pid_, SIGTERM); }

 private:
  pid_t pid_ = -1;
};

std::string read_text(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The console's port from the line "sorter: store console at http://127.0.0.1:PORT/ ...".
int console_port(const std::string& messages) {
  const std::string marker = "store console at http://127.0.0.1:";
  const auto at = messages.find(marker);
  return at == std::string::npos ? 0 : std::atoi(messages.c_str() + at + marker.size());
}

TEST(SorterSecondCopy, LeavesTheFirstCopysConsoleAndTokenFileAlone) {
  testsupport::TempDir dir;
  const auto store = dir / "store";
  std::filesystem::create_directories(store);
  const std::string token_file = (dir / "console.token").string();
  const std::vector<std::string> args{"--store", store.string(), "--interval", "600",
                                      "--console", "127.0.0.1:0",
                                      "--console-token-file", token_file};

  SorterProcess first(args, (dir / "first.err").string());
  ASSERT_TRUE(first.started());
  int port = 0;
  for (int i = 0; i < 500 && port == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (read_text(dir / "first.err").find("sorter: sorting") != std::string::npos) {
      port = console_port(read_text(dir / "first.err"));
    }
  }
  ASSERT_GT(port, 0) << read_text(dir / "first.err");
  const std::string token = read_text(token_file);
  ASSERT_FALSE(token.empty());

  SorterProcess second(args, (dir / "second.err").string());
  ASSERT_TRUE(second.started());
  EXPECT_EQ(second.wait(), 4);
  EXPECT_NE(read_text(dir / "second.err").find("another sorter already runs"), std::string::npos);
  EXPECT_EQ(read_text(token_file), token);

  std::string given = token;
  while (!given.empty() && (given.back() == '\n' || given.back() == '\r')) given.pop_back();
  httplib::Client client("127.0.0.1", port);
  const auto login = client.Post("/login", httplib::Params{{"token", given}});
  ASSERT_TRUE(login);
  EXPECT_EQ(login->status, 303);

  first.stop();
  EXPECT_EQ(first.wait(), 0);
}

}  // namespace
