// The files a round takes from the opener that works ahead of it: each file entry once, in the
// listing's order, opened (and asked about writers) as the round would have opened it, and
// every descriptor given back, however the round ends. The oracle for order is a listing of
// the same folder, for descriptors the process's own table. (On Windows the round's own tests
// cover it.)

#include "sorter/engine/open_ahead.h"

#ifndef _WIN32

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/utf.h"
#include "tests/support/temp_dir.h"

namespace sorter {
namespace {

namespace fs = std::filesystem;

std::size_t open_descriptors() {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

class OpenAheadTest : public testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < kFiles; ++i) {
      std::ofstream(dir / ("m" + std::to_string(i) + ".eml")) << "mail " << i;
    }
    fs::create_directory(dir / "folder.eml");
    std::ofstream(dir / (platform::to_utf8(platform::kTemporaryPrefix) + "m1.eml")) << "claim";
    ASSERT_EQ(::mkfifo((dir / "fifo.eml").c_str(), 0600), 0);
    // Plain files, as the listing gives them: the order to expect.
    platform::FolderReader reader(drop_path());
    while (auto e = reader.next()) {
      if (e->kind == platform::EntryKind::file && !platform::is_temporary_name(e->name)) {
        expected.push_back(platform::to_utf8(e->name));
      }
    }
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(kFiles));
  }

  std::u16string drop_path() const { return dir.path().u16string(); }

  static constexpr int kFiles = 100;
  testsupport::TempDir dir;
  std::vector<std::string> expected;
};

// Whether the round takes every file and hands each back, or stops after a few and drops the
// rest: the names come in the listing's order, each opened with nobody writing, at most two
// queues of descriptors held at a time, none left once the opener is gone.
TEST_F(OpenAheadTest, EveryFileOnceInOrderAndNoDescriptorKept) {
  const platform::DropFolder folder(drop_path());
  const std::size_t before = open_descriptors();
  for (const std::size_t taken : {std::size_t{kFiles}, std::size_t{3}}) {
    for (const std::size_t depth : {std::size_t{1}, std::size_t{4}, std::size_t{32}}) {
      SCOPED_TRACE("depth " + std::to_string(depth) + ", taken " + std::to_string(taken));
      std::vector<std::string> names;
      std::size_t most_held = 0;
      {
        OpenAhead ahead(platform::FolderReader(drop_path()), &folder, true, depth);
        while (names.size() < taken) {
          auto entry = ahead.next();
          if (!entry) break;
          names.push_back(platform::to_utf8(entry->name));
          ASSERT_TRUE(entry->opened);
          ASSERT_EQ(entry->opened->status, platform::DropOpenStatus::opened);
          EXPECT_FALSE(entry->failure);
          EXPECT_EQ(entry->writers, platform::Writers::none);
          most_held = std::max(most_held, open_descriptors() - before);
          ahead.done_with(std::move(*entry->opened->file));
        }
        if (taken == static_cast<std::size_t>(kFiles)) EXPECT_FALSE(ahead.next());
      }
      EXPECT_EQ(open_descriptors(), before);
      // The listing's own descriptor, the queue, the file in hand, the hand-backs not closed.
      EXPECT_LE(most_held, 2 * depth + 2);
      EXPECT_EQ(names, std::vector<std::string>(expected.begin(), expected.begin() + names.size()));
      EXPECT_EQ(names.size(), taken);
    }
  }
}

// Writers are asked only when the round would ask them, and a file someone holds open for
// writing says so; without a folder to open through (its handle failed) nothing is opened.
TEST_F(OpenAheadTest, WritersAskedAsTheRoundWouldAsk) {
  const platform::DropFolder folder(drop_path());
  const int writer = ::open((dir / "m7.eml").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  for (const bool ask : {true, false}) {
    OpenAhead ahead(platform::FolderReader(drop_path()), &folder, ask, 8);
    while (auto entry = ahead.next()) {
      ASSERT_TRUE(entry->opened);
      if (!ask) {
        EXPECT_FALSE(entry->writers);
      } else {
        EXPECT_EQ(entry->writers, entry->name == u"m7.eml" ? platform::Writers::present
                                                           : platform::Writers::none);
      }
    }
  }
  ::close(writer);
  OpenAhead listing_only(platform::FolderReader(drop_path()), nullptr, true, 8);
  std::size_t listed = 0;
  while (auto entry = listing_only.next()) {
    EXPECT_FALSE(entry->opened);
    EXPECT_FALSE(entry->failure);
    ++listed;
  }
  EXPECT_EQ(listed, expected.size());
}

// Descriptors run out while the opener works ahead: from the file whose open ran short on, the
// entries come unopened and without a failure, so that the round opens them itself with its
// remedy rather than take them for unreadable files; every name still comes, in order.
TEST_F(OpenAheadTest, ShortOfDescriptorsTheRestComeUnopened) {
  const platform::DropFolder folder(drop_path());
  rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  const int lowest_free = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ::close(lowest_free);
  // The sanitizers check an error's type through a pipe of their own the first time they meet
  // it: met here, while descriptors are still to be had.
  EXPECT_EQ(platform::AutomationError(platform::errnum::kTooManyFiles).number(),
            platform::errnum::kTooManyFiles);
  std::vector<std::string> names;
  std::vector<platform::DropFile> kept;  // held, so that the shortage lasts
  bool unopened_seen = false;
  {
    // Room for the listing and two files.
    rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(lowest_free + 3);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    OpenAhead ahead(platform::FolderReader(drop_path()), &folder, true, 32);
    while (auto entry = ahead.next()) {
      names.push_back(platform::to_utf8(entry->name));
      EXPECT_FALSE(entry->failure) << names.back();
      if (entry->opened) {
        EXPECT_FALSE(unopened_seen) << names.back() << " opened after the shortage";
        kept.push_back(std::move(*entry->opened->file));
      } else {
        unopened_seen = true;
      }
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
  }
  EXPECT_EQ(names, expected);
  EXPECT_EQ(kept.size(), 2u);
}

}  // namespace
}  // namespace sorter
#endif
