#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_copy.h"
#include "platform/utf.h"
#include "posix/errno_error.h"
#include "posix/fd_util.h"

namespace platform {

void copy_file_replacing(std::u16string_view source, std::u16string_view target) {
  if (source.empty() || target.empty()) throw AutomationError(errnum::kBadFileName);
  const std::string from = to_utf8(source);
  const std::string to = to_utf8(target);
  Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.fd < 0) {
    if (errno == ENOENT) throw_missing(from);
    throw_errno(errno);
  }
  struct stat src {};
  if (::fstat(in.fd, &src) != 0) throw_errno(errno);
  if (!S_ISREG(src.st_mode)) throw AutomationError(errnum::kPathFileAccess);
  struct stat dst {};
  if (::stat(to.c_str(), &dst) == 0 && dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) {
    return;  // the same file: nothing to copy
  }
  Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (out.fd < 0) throw_errno(errno);
  copy_contents(in.fd, out.fd);
  out.close_checked();
}

}  // namespace platform
