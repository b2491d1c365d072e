#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/file_copy.h"
#include "platform/utf.h"
#include "posix/errno_error.h"

namespace platform {
namespace {

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

void copy_file_replacing(std::u16string_view source, std::u16string_view target) {
  if (source.empty() || target.empty()) throw AutomationError(errnum::kBadFileName);
  const std::string from = to_utf8(source);
  const std::string to = to_utf8(target);
  Fd in;
  in.fd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in.fd < 0) {
    if (errno == ENOENT) {
      // A missing file in an existing folder is "file not found", else the folder is missing.
      const auto slash = from.find_last_of('/');
      struct stat st {};
      const std::string folder = slash == std::string::npos ? "." : from.substr(0, slash + 1);
      if (::stat(folder.c_str(), &st) == 0) throw AutomationError(errnum::kFileNotFound);
    }
    throw_errno(errno);
  }
  struct stat src {};
  if (::fstat(in.fd, &src) != 0) throw_errno(errno);
  if (!S_ISREG(src.st_mode)) throw AutomationError(errnum::kPathFileAccess);
  struct stat dst {};
  if (::stat(to.c_str(), &dst) == 0 && dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) {
    return;  // the same file: nothing to copy
  }
  Fd out;
  out.fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out.fd < 0) throw_errno(errno);
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t n = ::read(in.fd, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw_errno(errno);
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out.fd, buffer.data() + done, static_cast<size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        throw_errno(errno);
      }
      done += w;
    }
  }
  const int fd = out.fd;
  out.fd = -1;
  if (::close(fd) != 0) throw_errno(errno);
}

}  // namespace platform
