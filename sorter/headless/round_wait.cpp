#include "sorter/headless/round_wait.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "platform/folder_watch.h"

namespace sorter::headless {

RoundWait::RoundWait(const sigset_t& stop)
    : signals_(::signalfd(-1, &stop, SFD_NONBLOCK | SFD_CLOEXEC)) {
  if (signals_ < 0) {
    throw std::system_error(errno, std::generic_category(), "cannot wait for stop signals");
  }
}

RoundWait::~RoundWait() { ::close(signals_); }

Wake RoundWait::next(double seconds, platform::FolderWatch* watch) {
  using Clock = std::chrono::steady_clock;
  const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(std::max(seconds, 0.0)));
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    pollfd ready[2] = {{signals_, POLLIN, 0},
                       {watch ? static_cast<int>(watch->wait_handle()) : -1, POLLIN, 0}};
    const int n = ::poll(ready, 2, static_cast<int>(std::max<long long>(left.count(), 0)));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "waiting between rounds");
    }
    if (ready[0].revents != 0) {
      signalfd_siginfo taken;
      if (::read(signals_, &taken, sizeof taken) == sizeof taken) return Wake::stop;
      continue;  // taken meanwhile (sigtimedwait elsewhere): nothing to stop for
    }
    if (ready[1].revents != 0 && watch->take_arrivals()) return Wake::arrival;
    if (Clock::now() >= until) return Wake::sweep;
  }
}

}  // namespace sorter::headless
