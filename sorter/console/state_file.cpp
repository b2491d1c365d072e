#include "sorter/console/state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/posix/safe_open.h"
#include "sorter/console/sessions.h"

namespace sorter::console {
namespace {

constexpr std::size_t kMaxBytes = 1024 * 1024;

std::runtime_error failure(const std::string& what, const std::string& path) {
  return std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool write_all(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool state_file_exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string read_state_file(const std::string& path) {
  const Fd fd(platform::open_regular_file(AT_FDCWD, platform::resolve_named_path(path).c_str(),
                                          O_RDONLY));
  if (fd.get() < 0) throw failure("cannot read", path);
  std::string out;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw failure("cannot read", path);
    if (n == 0) return out;
    out.append(buffer, static_cast<std::size_t>(n));
    if (out.size() > kMaxBytes) throw std::runtime_error(path + " is larger than 1 MiB");
  }
}

void check_private_file(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) throw failure("cannot read", path);
  if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
    throw std::runtime_error(path + " must be a file of this user that no one else may read "
                             "(chmod 600)");
  }
}

void replace_state_file(const std::string& path, const std::string& bytes, mode_t mode,
                        std::optional<FileOwner> owner) {
  const std::string temporary = path + ".new-" + random_hex(6);
  {
    const Fd fd(platform::open_regular_file(AT_FDCWD, temporary.c_str(),
                                            O_WRONLY | O_CREAT | O_EXCL, mode & 0600));
    if (fd.get() < 0) throw failure("cannot write", temporary);
    const bool written =
        (!owner || ::fchown(fd.get(), owner->uid, owner->gid) == 0) &&
        ::fchmod(fd.get(), mode) == 0 && write_all(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    if (!written) {
      const std::runtime_error error = failure("cannot write", temporary);
      ::unlink(temporary.c_str());
      throw error;
    }
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::runtime_error error = failure("cannot write", path);
    ::unlink(temporary.c_str());
    throw error;
  }
}

std::optional<FileOwner> owner_of(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileOwner{st.st_uid, st.st_gid};
}

}  // namespace sorter::console
