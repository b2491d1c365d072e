#pragma once
// The headless sorter's wait between two rounds. It ends when SIGINT or SIGTERM comes (the
// caller keeps them blocked, so none is lost between waits), when the sweep interval is up,
// and, given the drop folder's watch, as soon as a file arrives: every arrival pending then is
// taken with it, so that many files arriving at once make one round, and those that arrive
// during that round make one more.

#include <signal.h>

namespace platform {
class FolderWatch;
}

namespace sorter::headless {

enum class Wake {
  stop,     // a stop signal came (and was taken)
  arrival,  // a file arrived in the drop folder
  sweep,    // the interval is up
};

class RoundWait {
 public:
  // stop: the signals that end the sorter, blocked by the caller. Throws std::system_error
  // when the system gives no descriptor to wait for them on.
  explicit RoundWait(const sigset_t& stop);
  ~RoundWait();
  RoundWait(const RoundWait&) = delete;
  RoundWait& operator=(const RoundWait&) = delete;

  // Waits up to seconds; watch may be null (the plain tick).
  Wake next(double seconds, platform::FolderWatch* watch);

 private:
  int signals_;  // a signalfd(2) for the stop signals
};

}  // namespace sorter::headless
