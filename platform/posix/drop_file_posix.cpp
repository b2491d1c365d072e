// Drop-folder files on POSIX: opened beneath the folder's descriptor by open_regular_file
// (safe_open.h: no link followed, a FIFO or device refused without blocking), without O_CREAT;
// facts from its fstat(2). What is not a regular file is not a file to sort: it counts as gone.
// The descriptor keeps O_NONBLOCK, which reads of a regular file do not heed on Linux's file
// systems: one fcntl less per file. A file system that does heed it (a FUSE server may) and
// says a read would wait gets the flag cleared and the read again.
// On Linux a read lease (F_SETLEASE, F_RDLCK) tells whether anyone has the file open for
// writing: it is refused (EAGAIN) exactly then, and while it is held a writer's open waits.
// The round keeps the lease through its move; a writer's open meanwhile starts a lease break,
// which F_GETLEASE shows before the move (the writer waits up to the kernel's
// lease-break-time, 45 s by default, or until close).

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <cerrno>
#include <mutex>

#include "platform/drop_file.h"
#include "platform/utf.h"
#include "posix/errno_error.h"
#include "posix/fd_util.h"
#include "posix/safe_open.h"

namespace platform {
namespace {

int fd_of(intptr_t handle) { return static_cast<int>(handle); }

DropFileFacts facts_of(const struct stat& st) {
  DropFileFacts facts;
  facts.kind = entry_kind_of(st.st_mode);
  facts.size = static_cast<uint64_t>(st.st_size);
  facts.modified_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  facts.age_seconds = static_cast<double>(now.tv_sec - st.st_mtim.tv_sec) +
                      static_cast<double>(now.tv_nsec - st.st_mtim.tv_nsec) / 1e9;
  return facts;
}

// A writer that opens a leased file makes the kernel signal the holder with SIGIO, whose
// default action ends the process. The round asks F_GETLEASE before it moves the file and
// closes the file right after, so the signal only needs to be harmless: ignored, unless the
// program handles SIGIO itself.
void make_lease_breaks_harmless() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (::sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      ::sigemptyset(&ignore.sa_mask);
      ::sigaction(SIGIO, &ignore, nullptr);
    }
  });
}

}  // namespace

DropFile::DropFile(DropFile&& other) noexcept
    : handle_(other.handle_),
      facts_(other.facts_),
      volume_(other.volume_),
      index_(other.index_),
      leased_(other.leased_),
      ahead_(std::move(other.ahead_)) {
  other.handle_ = -1;
  other.leased_ = false;
}

DropFile& DropFile::operator=(DropFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    facts_ = other.facts_;
    volume_ = other.volume_;
    index_ = other.index_;
    leased_ = other.leased_;
    ahead_ = std::move(other.ahead_);
    other.handle_ = -1;
    other.leased_ = false;
  }
  return *this;
}

DropFile::~DropFile() { close(); }

Writers DropFile::writers() {
  if (handle_ < 0) return Writers::unknown;
  if (leased_) return Writers::none;
#ifdef F_SETLEASE
  make_lease_breaks_harmless();
  if (::fcntl(fd_of(handle_), F_SETLEASE, F_RDLCK) == 0) {
    leased_ = true;
    return Writers::none;
  }
  // EAGAIN: open for writing somewhere. EACCES: not the owner and no CAP_LEASE; EINVAL and
  // others: the file system keeps no leases (network mounts). Neither says "nobody writes".
  return errno == EAGAIN ? Writers::present : Writers::unknown;
#else
  return Writers::unknown;
#endif
}

bool DropFile::hold_for_move() {
  if (!leased_) return true;  // nothing was promised: the settling rules answered
#ifdef F_GETLEASE
  // A break in progress shows as the lease's target, F_UNLCK for a writer's open.
  return ::fcntl(fd_of(handle_), F_GETLEASE) == F_RDLCK;
#else
  return true;
#endif
}

std::size_t DropFile::read_at(uint64_t offset, std::span<uint8_t> out) {
  if (handle_ < 0) throw AutomationError(errnum::kBadFileName);
  std::size_t done = 0;
  if (offset < ahead_.size() && !out.empty()) {
    done = std::min(out.size(), ahead_.size() - static_cast<std::size_t>(offset));
    std::memcpy(out.data(), ahead_.data() + offset, done);
  }
  while (done < out.size()) {
    const ssize_t n = ::pread(fd_of(handle_), out.data() + done, out.size() - done,
                              static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        const int status = ::fcntl(fd_of(handle_), F_GETFL);
        if (status >= 0 && (status & O_NONBLOCK) != 0 &&
            ::fcntl(fd_of(handle_), F_SETFL, status & ~O_NONBLOCK) == 0) {
          continue;  // read again, waiting as reads of a file do
        }
        errno = EAGAIN;
      }
      throw_errno(errno);
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

void DropFile::read_ahead(std::size_t max_bytes) {
  if (handle_ < 0 || !ahead_.empty()) return;
  const auto n = static_cast<std::size_t>(std::min<uint64_t>(facts_.size, max_bytes));
  if (n == 0) return;
  try {
    std::vector<uint8_t> bytes(n);
    bytes.resize(read_at(0, bytes));
    ahead_ = std::move(bytes);
  } catch (const std::exception&) {
    // read_at meets the failure again in its turn, and reports it there
  }
}

void DropFile::share_for_open_by_name() {}

void DropFile::close() noexcept {
  if (handle_ < 0) return;
  // Closing the only descriptor of the open file releases its lease too: no F_UNLCK first.
  leased_ = false;
  ::close(fd_of(handle_));
  handle_ = -1;
}

struct DropFolder::Impl {
  int fd = -1;
  bool owned = true;  // false: the descriptor of a ConfinedFolder
  // Reading a file just written would also write its access time (a journalled inode update
  // per file): O_NOATIME avoids that where the file's owner or a privileged program reads.
  // Others are refused it (EPERM), and after the first refusal this folder is read without.
  mutable std::atomic<bool> no_atime{true};
  ~Impl() {
    if (owned && fd >= 0) ::close(fd);
  }
};

DropFolder::DropFolder(std::u16string_view path) : impl_(std::make_unique<Impl>()) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
    throw AutomationError(errnum::kBadFileName);
  }
  impl_->fd = ::open(to_utf8(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (impl_->fd < 0) throw_errno(errno);
}

DropFolder::DropFolder(const ConfinedFolder& folder) : impl_(std::make_unique<Impl>()) {
  impl_->fd = static_cast<int>(folder.native_handle());
  impl_->owned = false;
}

DropFolder::DropFolder(DropFolder&&) noexcept = default;
DropFolder& DropFolder::operator=(DropFolder&&) noexcept = default;
DropFolder::~DropFolder() = default;

DropOpenResult DropFolder::open(std::u16string_view name) const {
  if (name.empty() || name == u"." || name == u".." ||
      name.find_first_of(std::u16string_view(u"/\0", 2)) != std::u16string_view::npos) {
    throw AutomationError(errnum::kBadFileName);
  }
  const std::string n = to_utf8(name);
  int fd = -1;
  struct stat st {};  // the open's own check of the descriptor: the facts and the identity
  if (impl_->no_atime.load(std::memory_order_relaxed)) {
    fd = open_regular_file(impl_->fd, n.c_str(), O_RDONLY | O_NONBLOCK | O_NOATIME, 0, &st);
    if (fd < 0 && errno == EPERM) impl_->no_atime.store(false, std::memory_order_relaxed);
  }
  if (fd < 0 && !impl_->no_atime.load(std::memory_order_relaxed)) {
    fd = open_regular_file(impl_->fd, n.c_str(), O_RDONLY | O_NONBLOCK, 0, &st);
  }
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT || error == ENXIO) return {DropOpenStatus::gone, std::nullopt};
    if (error == ELOOP || error == EXDEV) return {DropOpenStatus::link, std::nullopt};
    // A write lease someone else holds (a pupil may take one on her own file): the open, not
    // waiting, has asked for it to be broken, and the file waits for a later round.
    if (error == EAGAIN || error == EWOULDBLOCK) return {DropOpenStatus::in_use, std::nullopt};
    throw_errno(error);
  }
  return {DropOpenStatus::opened,
          DropFile(fd, facts_of(st), static_cast<uint64_t>(st.st_dev),
                   static_cast<uint64_t>(st.st_ino))};
}

bool DropFolder::holds(std::u16string_view name, const DropFile& file) const {
  struct stat st {};
  if (::fstatat(impl_->fd, to_utf8(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  return S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_dev) == file.volume_ &&
         static_cast<uint64_t>(st.st_ino) == file.index_;
}

}  // namespace platform
