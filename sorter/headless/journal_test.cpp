#include "sorter/headless/journal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace sorter::headless {
namespace {

TEST(HeadlessJournal, PrefixesEveryLineOnlyForTheJournal) {
  EXPECT_EQ(journal_line(priority_of_event(EventType::kError), "Path not found", true), "<3>Path not found\n");
  EXPECT_EQ(journal_line(priority_of_event(EventType::kWarning), "a\r\nb\nc\r", true), "<4>a\n<4>b\n<4>c\n");
  EXPECT_EQ(journal_line(priority_of_event(EventType{7}), "started", true), "<6>started\n");
  EXPECT_EQ(journal_line(Priority::kError, "a\nb", false), "a\nb\n");
}

// The variable counts only when it names the file standard error really is: a service that
// starts a child with its output elsewhere must not send it priority prefixes.
TEST(HeadlessJournal, StreamMustBeStandardErrorItself) {
  const int saved = ::dup(2);
  char path[] = "/tmp/journal_testXXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::dup2(fd, 2);
  struct stat st {};
  ::fstat(fd, &st);
  const std::string own = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  const std::string other = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino + 1);

  ::unsetenv("JOURNAL_STREAM");
  const bool unset = stderr_is_journal();
  ::setenv("JOURNAL_STREAM", own.c_str(), 1);
  const bool matching = stderr_is_journal();
  ::setenv("JOURNAL_STREAM", other.c_str(), 1);
  const bool elsewhere = stderr_is_journal();
  ::setenv("JOURNAL_STREAM", "garbage", 1);
  const bool garbage = stderr_is_journal();
  ::unsetenv("JOURNAL_STREAM");

  ::dup2(saved, 2);
  ::close(saved);
  ::close(fd);
  ::unlink(path);
  EXPECT_FALSE(unset);
  EXPECT_TRUE(matching);
  EXPECT_FALSE(elsewhere);
  EXPECT_FALSE(garbage);
}

}  // namespace
}  // namespace sorter::headless
