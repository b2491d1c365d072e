#include "posix/safe_open.h"

#include <linux/openat2.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

namespace platform {
namespace {

std::atomic<bool> no_openat2{false};

// Closes fd and fails with error, keeping errno as the caller's answer.
int refuse(int fd, int error) noexcept {
  ::close(fd);
  errno = error;
  return -1;
}

}  // namespace

int open_beneath(int dir, const char* name, int flags, mode_t mode) noexcept {
  flags |= O_NOFOLLOW | O_CLOEXEC;
  if (dir != AT_FDCWD && !no_openat2.load(std::memory_order_relaxed)) {
    open_how how{};
    how.flags = static_cast<uint64_t>(flags);
    how.mode = (flags & O_CREAT) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    const long fd = ::syscall(SYS_openat2, dir, name, &how, sizeof how);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM && errno != E2BIG)) {
      return static_cast<int>(fd);
    }
    if (errno == ENOSYS) no_openat2.store(true, std::memory_order_relaxed);
  }
  return ::openat(dir, name, flags, mode);
}

int open_regular_file(int dir, const char* name, int flags, mode_t mode,
                      struct stat* status) noexcept {
  const bool keep_nonblocking = (flags & O_NONBLOCK) != 0;
  flags &= ~O_NONBLOCK;
  const int fd = open_beneath(dir, name, flags | O_NONBLOCK | O_NOCTTY, mode);
  if (fd < 0) {
    // A FIFO without a reader opened for writing, a socket, a folder opened for writing.
    if (errno == EISDIR) errno = ENXIO;
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) return refuse(fd, errno);
  if (!S_ISREG(st.st_mode)) return refuse(fd, ENXIO);
  // F_SETFL takes from its argument only the flags that may change on an open descriptor
  // (O_APPEND, O_ASYNC, O_DIRECT, O_NOATIME, O_NONBLOCK) and ignores the rest. Of those the
  // descriptor holds exactly the ones the open was given, so the caller's flags are its status
  // less O_NONBLOCK: no F_GETFL to learn it.
  if (!keep_nonblocking && ::fcntl(fd, F_SETFL, flags) != 0) return refuse(fd, errno);
  if (status != nullptr) *status = st;
  return fd;
}

std::string resolve_named_path(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string resolved = real;
  ::free(real);
  return resolved;
}

}  // namespace platform
