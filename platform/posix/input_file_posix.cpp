// Sequential file reading on POSIX: opened read-only by open_regular_file (safe_open.h; the
// caller's path may hold links, a FIFO or device is refused without blocking), errno mapped to
// the classic numbers.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/automation_error.h"
#include "platform/input_file.h"
#include "platform/utf.h"
#include "posix/errno_error.h"
#include "posix/safe_open.h"

namespace platform {
namespace {

bool parent_folder_exists(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string parent =
      slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
  struct stat st {};
  return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

InputFile InputFile::open(std::u16string_view path) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
    throw AutomationError(errnum::kBadFileName);
  }
  const std::string native = resolve_named_path(to_utf8(path));
  const int fd = open_regular_file(AT_FDCWD, native.c_str(), O_RDONLY);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT && parent_folder_exists(native)) {
      throw AutomationError(errnum::kFileNotFound);
    }
    throw_errno(error);  // ENXIO, not a regular file: 75
  }
  return InputFile(fd);
}

InputFile::InputFile(InputFile&& other) noexcept : handle_(other.handle_) {
  other.handle_ = -1;
}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

InputFile::~InputFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::size_t InputFile::read(std::span<uint8_t> buffer) {
  if (handle_ < 0) throw AutomationError(errnum::kBadFileName);
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(handle_), buffer.data(), buffer.size());
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) throw_errno(errno);
  }
}

void InputFile::close() {
  if (handle_ < 0) return;
  ::close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace platform
