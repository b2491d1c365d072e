#pragma once
// Another owner's files, for tests of what a program without privileges meets in a store that
// others write into: the kernel refuses it read leases (EACCES without CAP_LEASE) and O_NOATIME
// (EPERM) on such files, and permission bits bind it.
//
// As root, give_away() hands a file to the pupil's uid with chown, and run_unprivileged() runs
// the check in a child process that has dropped to the service's uid and owns the folder. As
// any other user, give_away() swaps the file for one of the empty root-owned files in the folder
// CORVANE_TEST_FOREIGN_FILES names (the unprivileged test tier fills it) with the same content,
// and the check runs in the test's own process. Either way the given-away file ends up with mode
// 0666, so that the check may change it as its writer would. POSIX only.

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

#include "tests/support/temp_dir.h"

namespace testsupport {

class OtherOwner {
 public:
  static constexpr uid_t kPupil = 64123;    // owns the given-away files when root runs the test
  static constexpr uid_t kService = 64124;  // runs the checks then

  // Why no other owner's files can be had here; nothing when they can.
  static std::optional<std::string> unavailable() {
    if (::geteuid() == 0 || supply() != nullptr) return std::nullopt;
    return "another owner's files need root or CORVANE_TEST_FOREIGN_FILES";
  }

  // Makes the regular file at path another owner's, with its content and mode 0666.
  static void give_away(const std::filesystem::path& path) {
    if (::geteuid() == 0) {
      if (::chmod(path.c_str(), 0666) != 0 || ::chown(path.c_str(), kPupil, kPupil) != 0) {
        fail("chown " + path.string());
      }
      return;
    }
    const std::filesystem::path claimed = claim(path.parent_path());
    const auto bytes = read_bytes(path);
    {
      // No O_CREAT: the file exists and stays root's.
      const int fd = ::open(claimed.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
      if (fd < 0) fail("open " + claimed.string());
      const auto written = ::write(fd, bytes.data(), bytes.size());
      const bool whole = written == static_cast<ssize_t>(bytes.size());
      ::close(fd);
      if (!whole) fail("write " + claimed.string());
    }
    if (::rename(claimed.c_str(), path.c_str()) != 0) fail("rename onto " + path.string());
  }

  // Runs check as a user without privileges who owns folder and everything below it but the
  // given-away files, and answers what check answered. As root the check runs in a child
  // process (gtest assertions made there are lost: answer text instead); an exception it throws
  // is answered as "exception: <what>", a child that hangs for 60 s is killed.
  static std::string run_unprivileged(const std::filesystem::path& folder,
                                      const std::function<std::string()>& check) {
    if (::geteuid() != 0) return guarded(check);
    hand_over(folder);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) fail("pipe");
    const pid_t child = ::fork();
    if (child < 0) fail("fork");
    if (child == 0) {
      ::close(fds[0]);
      std::string answer = "could not drop privileges";
      if (::setgroups(0, nullptr) == 0 && ::setresgid(kService, kService, kService) == 0 &&
          ::setresuid(kService, kService, kService) == 0) {
        answer = guarded(check);
      }
      const bool sent = ::write(fds[1], answer.data(), answer.size()) ==
                        static_cast<ssize_t>(answer.size());
      ::_exit(sent ? 0 : 1);
    }
    ::close(fds[1]);
    std::string answer = read_answer(fds[0], child);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      answer += " [child ended with status " + std::to_string(status) + "]";
    }
    return answer;
  }

 private:
  [[noreturn]] static void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), "OtherOwner: " + what);
  }

  static const char* supply() {
    const char* dir = std::getenv("CORVANE_TEST_FOREIGN_FILES");
    return dir != nullptr && *dir != '\0' ? dir : nullptr;
  }

  // Takes one of the supply's files into folder under a name of its own; a file another test
  // program took first is passed over.
  static std::filesystem::path claim(const std::filesystem::path& folder) {
    static int taken = 0;
    const std::filesystem::path into = folder / (".foreign-" + std::to_string(::getpid()) + "-" +
                                                 std::to_string(taken++));
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(supply(), ec)) {
      if (::rename(entry.path().c_str(), into.c_str()) == 0) return into;
    }
    errno = ENOENT;
    fail(std::string("no file left in ") + supply());
  }

  static std::string guarded(const std::function<std::string()>& check) {
    try {
      return check();
    } catch (const std::exception& e) {
      return std::string("exception: ") + e.what();
    }
  }

  // The folder and what lies below it become the service's, but for the pupil's files.
  static void hand_over(const std::filesystem::path& folder) {
    const auto take = [](const std::filesystem::path& p) {
      struct stat st {};
      if (::lstat(p.c_str(), &st) == 0 && st.st_uid != kPupil &&
          ::lchown(p.c_str(), kService, kService) != 0) {
        fail("chown " + p.string());
      }
    };
    take(folder);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
      take(entry.path());
    }
  }

  static std::string read_answer(int fd, pid_t child) {
    std::string answer;
    char buffer[4096];
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 60000) <= 0) {
        ::kill(child, SIGKILL);
        return answer + " [the check did not end within 60 s]";
      }
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return answer;
      answer.append(buffer, static_cast<std::size_t>(n));
    }
  }
};

}  // namespace testsupport
