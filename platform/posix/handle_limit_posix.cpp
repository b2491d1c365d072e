// The open-file limit on POSIX: RLIMIT_NOFILE, whose soft value is what open(2) enforces.

#include <sys/resource.h>

#include <cerrno>

#include "platform/handle_limit.h"
#include "posix/errno_error.h"

namespace platform {
namespace {

std::size_t as_size(rlim_t value) {
  if (value == RLIM_INFINITY || value > static_cast<rlim_t>(kNoHandleLimit)) return kNoHandleLimit;
  return static_cast<std::size_t>(value);
}

}  // namespace

std::size_t open_handle_limit() noexcept {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return kNoHandleLimit;
  return as_size(limit.rlim_cur);
}

std::size_t raise_open_handle_limit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) throw_errno(errno);
  if (limit.rlim_cur != limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) throw_errno(errno);
  }
  return as_size(limit.rlim_cur);
}

}  // namespace platform
