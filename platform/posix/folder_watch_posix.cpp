// Folder watch on Linux: one inotify instance, non-blocking, with one watch on the folder for
// files written and closed (IN_CLOSE_WRITE), moved in (IN_MOVED_TO) or created (IN_CREATE: a
// link(2) into the folder sends nothing else). Folders inside do not count. The watch ends
// with the folder: removed or unmounted (IN_IGNORED follows), or renamed (IN_MOVE_SELF; the
// watch would follow the folder to its new name, so it is dropped).

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>

#include "platform/folder_watch.h"
#include "platform/utf.h"
#include "posix/errno_error.h"

namespace platform {
namespace {

constexpr uint32_t kArrivals = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE;
constexpr uint32_t kFolderGone = IN_IGNORED | IN_MOVE_SELF | IN_DELETE_SELF | IN_UNMOUNT;

// The system's limits get a description naming the setting that raises them.
[[noreturn]] void throw_watch_error(int error, bool adding) {
  if (adding && error == ENOSPC) {
    throw AutomationError(errnum::kTooManyFiles,
                          u"Too many files: the limit of watches (fs.inotify.max_user_watches) "
                          u"is reached");
  }
  if (!adding && error == EMFILE) {
    throw AutomationError(errnum::kTooManyFiles,
                          u"Too many files: the limit of notification queues "
                          u"(fs.inotify.max_user_instances) or of open files is reached");
  }
  throw_errno(error);
}

}  // namespace

struct FolderWatch::Impl {
  int fd = -1;
  int watch = -1;  // -1 once the folder went away
  ~Impl() {
    if (fd >= 0) ::close(fd);
  }
};

FolderWatch::FolderWatch(std::u16string_view path) : impl_(std::make_unique<Impl>()) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
    throw AutomationError(errnum::kBadFileName);
  }
  impl_->fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (impl_->fd < 0) throw_watch_error(errno, false);
  impl_->watch = ::inotify_add_watch(impl_->fd, to_utf8(path).c_str(),
                                     kArrivals | IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR);
  if (impl_->watch < 0) throw_watch_error(errno, true);
}

FolderWatch::FolderWatch(FolderWatch&&) noexcept = default;
FolderWatch& FolderWatch::operator=(FolderWatch&&) noexcept = default;
FolderWatch::~FolderWatch() = default;

intptr_t FolderWatch::wait_handle() const { return impl_->fd; }

bool FolderWatch::wait(double seconds) const {
  using Clock = std::chrono::steady_clock;
  const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(std::max(seconds, 0.0)));
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    pollfd ready{impl_->fd, POLLIN, 0};
    const int n = ::poll(&ready, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
    if (n >= 0) return n > 0;
    if (errno != EINTR) throw_errno(errno);
  }
}

bool FolderWatch::take_arrivals() {
  bool arrived = false;
  alignas(inotify_event) char buffer[16 * 1024];
  for (;;) {
    const ssize_t n = ::read(impl_->fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return arrived;
      throw_errno(errno);
    }
    if (n == 0) return arrived;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) arrived = true;  // some were lost: look all the same
      if (event->wd != impl_->watch || impl_->watch < 0) continue;
      if ((event->mask & kArrivals) && !(event->mask & IN_ISDIR)) arrived = true;
      if (event->mask & kFolderGone) {
        if (!(event->mask & IN_IGNORED)) ::inotify_rm_watch(impl_->fd, impl_->watch);
        impl_->watch = -1;
        arrived = true;  // whatever is at the folder's name now, a round shows it
      }
    }
  }
}

bool FolderWatch::watching() const { return impl_->watch >= 0; }

}  // namespace platform
