#include "sorter/headless/round_wait.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/folder_watch.h"
#include "tests/support/temp_dir.h"

namespace sorter::headless {
namespace {

using testsupport::TempDir;
using testsupport::u16;
using testsupport::write_bytes;

constexpr double kHang = 60.0;  // a wait that has not ended by then would not end
constexpr double kStopHang = 10.0;  // as long as the interval a stop must cut short

// SIGUSR1 stands for the stop signals, blocked as the sorter blocks them, for the whole test
// program (threads started later inherit the mask).
class RoundWaitTest : public ::testing::Test {
 protected:
  RoundWaitTest() {
    sigemptyset(&stop_);
    sigaddset(&stop_, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stop_, nullptr);
  }
  sigset_t stop_;
  TempDir dir_;
  platform::FolderWatch watch_{u16(dir_.path())};
};

// A stop ends the wait, long before the interval, with or without a watch; whether it came
// during the wait or before it (during a round). It is taken: the next wait runs its course.
TEST_F(RoundWaitTest, AStopEndsTheWaitAndIsTaken) {
  for (const bool watched : {false, true}) {
    for (const bool during : {true, false}) {
      SCOPED_TRACE(std::string(watched ? "watched" : "plain tick") +
                   (during ? ", stop while waiting" : ", stop before the wait"));
      RoundWait wait(stop_);
      std::thread stopper;
      if (during) {
        stopper = std::thread([] {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          ::kill(::getpid(), SIGUSR1);
        });
      } else {
        ::kill(::getpid(), SIGUSR1);
      }
      EXPECT_EQ(wait.next(kStopHang, watched ? &watch_ : nullptr), Wake::stop);
      if (stopper.joinable()) stopper.join();
      EXPECT_EQ(wait.next(0.05, watched ? &watch_ : nullptr), Wake::sweep);
    }
  }
}

// Files arriving together end one wait; the wait after it runs to the sweep unless more files
// arrived meanwhile (during the round), which end it once more.
TEST_F(RoundWaitTest, ArrivalsTogetherEndOneWait) {
  RoundWait wait(stop_);
  for (int i = 0; i < 100; ++i) write_bytes(dir_ / ("m" + std::to_string(i) + ".eml"), {1});
  EXPECT_EQ(wait.next(kHang, &watch_), Wake::arrival);
  EXPECT_EQ(wait.next(0.05, &watch_), Wake::sweep);
  write_bytes(dir_ / "during-the-round.eml", {1});
  EXPECT_EQ(wait.next(kHang, &watch_), Wake::arrival);
  EXPECT_EQ(wait.next(0.05, &watch_), Wake::sweep);
}

// Without the watch (instant delivery off) an arrival does not end the wait.
TEST_F(RoundWaitTest, WithoutTheWatchOnlyTheSweepComes) {
  RoundWait wait(stop_);
  write_bytes(dir_ / "m.eml", {1});
  EXPECT_EQ(wait.next(0.3, nullptr), Wake::sweep);
  EXPECT_EQ(wait.next(kHang, &watch_), Wake::arrival) << "the file did arrive";
}

}  // namespace
}  // namespace sorter::headless
