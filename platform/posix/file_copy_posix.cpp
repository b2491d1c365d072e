#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_copy.h"
#include "platform/utf.h"
#include "posix/errno_error.h"
#include "posix/fd_util.h"
#include "posix/safe_open.h"

namespace platform {

void copy_file_replacing(std::u16string_view source, std::u16string_view target) {
  if (source.empty() || target.empty()) throw AutomationError(errnum::kBadFileName);
  // Both paths are the caller's: links in them are followed, but never one swapped in later.
  const std::string from = resolve_named_path(to_utf8(source));
  const std::string to = resolve_named_path(to_utf8(target));
  Fd in(open_regular_file(AT_FDCWD, from.c_str(), O_RDONLY));
  if (in.fd < 0) {
    if (errno == ENOENT) throw_missing(from);
    throw_errno(errno);
  }
  struct stat src {};
  if (::fstat(in.fd, &src) != 0) throw_errno(errno);
  struct stat dst {};
  if (::stat(to.c_str(), &dst) == 0 && dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) {
    return;  // the same file: nothing to copy
  }
  // Emptied only once it is known to be a regular file.
  Fd out(open_regular_file(AT_FDCWD, to.c_str(), O_WRONLY | O_CREAT, 0666));
  if (out.fd < 0 || ::ftruncate(out.fd, 0) != 0) throw_errno(errno);
  copy_contents(in.fd, out.fd);
  out.close_checked();
}

}  // namespace platform
