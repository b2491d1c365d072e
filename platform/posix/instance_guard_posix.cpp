// The single-instance test on POSIX: an exclusive advisory lock on a file named after the
// guard in $XDG_RUNTIME_DIR (else /tmp), or on the guarded folder itself. The lock ends with
// the process, also after a crash.
//
// A folder's guard also sets a shared record lock on its descriptor (an open file description
// lock where the kernel has them), which folder_claimed() looks for with F_GETLK: a query that
// holds nothing, so it can never stand in the way of a guard's exclusive flock. Nobody can
// refuse that record lock, as the write lock that would conflict needs a folder opened for
// writing.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/instance_guard.h"
#include "platform/utf.h"
#include "posix/safe_open.h"

namespace platform {

struct InstanceGuard::Impl {
  int fd = -1;
  bool other = false;
  ~Impl() {
    if (fd >= 0) ::close(fd);  // closing releases the lock
  }
};

namespace {

#ifdef F_OFD_SETLK
constexpr int kSetRecordLock = F_OFD_SETLK;
constexpr int kGetRecordLock = F_OFD_GETLK;
#else
constexpr int kSetRecordLock = F_SETLK;
constexpr int kGetRecordLock = F_GETLK;
#endif

// The whole file as one record lock of type.
struct flock whole_file(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return lock;
}

// A descriptor of the folder itself, or -1.
int open_folder(std::u16string_view path) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) return -1;
  return ::open(to_utf8(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

std::string lock_path(std::u16string_view name) {
  const char* runtime = ::getenv("XDG_RUNTIME_DIR");
  std::string folder = runtime != nullptr && *runtime != '\0' ? runtime : "/tmp";
  std::string file;
  for (const char c : to_utf8(name)) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    file += plain ? c : '_';
  }
  return folder + "/" + file + "-" + std::to_string(::getuid()) + ".lock";
}

}  // namespace

InstanceGuard::InstanceGuard(std::u16string_view name) : impl_(std::make_unique<Impl>()) {
  impl_->fd = open_regular_file(AT_FDCWD, lock_path(name).c_str(), O_RDWR | O_CREAT, 0600);
  // Without a lock file the test cannot be made; the copy then counts as the only one.
  if (impl_->fd >= 0 && ::flock(impl_->fd, LOCK_EX | LOCK_NB) != 0) impl_->other = true;
}

InstanceGuard InstanceGuard::for_folder(std::u16string_view path) {
  InstanceGuard guard;
  guard.impl_ = std::make_unique<Impl>();
  // A descriptor of the folder itself: no file to create, pre-create or plant a link as, and
  // the lock is the folder's whatever path led to it.
  guard.impl_->fd = open_folder(path);
  if (guard.impl_->fd < 0) return guard;
  if (::flock(guard.impl_->fd, LOCK_EX | LOCK_NB) != 0) {
    guard.impl_->other = errno == EWOULDBLOCK;
    return guard;
  }
  // The mark that folder_claimed() sees; without it the folder only looks unclaimed.
  struct flock mark = whole_file(F_RDLCK);
  (void)::fcntl(guard.impl_->fd, kSetRecordLock, &mark);
  return guard;
}

std::optional<bool> InstanceGuard::folder_claimed(std::u16string_view path) {
  const int fd = open_folder(path);
  if (fd < 0) return std::nullopt;
  // Which lock would stand in the way of a write lock on the whole folder; none is set.
  struct flock query = whole_file(F_WRLCK);
  const bool asked = ::fcntl(fd, kGetRecordLock, &query) == 0;
  ::close(fd);
  if (!asked) return std::nullopt;
  return query.l_type != F_UNLCK;
}

InstanceGuard::InstanceGuard(InstanceGuard&&) noexcept = default;
InstanceGuard& InstanceGuard::operator=(InstanceGuard&&) noexcept = default;
InstanceGuard::~InstanceGuard() = default;

bool InstanceGuard::another_copy_running() const { return impl_ && impl_->other; }

}  // namespace platform
