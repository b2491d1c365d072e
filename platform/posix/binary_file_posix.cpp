// Record-file access on POSIX: opened by open_regular_file (safe_open.h) with O_RDWR | O_CREAT
// (never O_TRUNC), pread/pwrite at offset 0, errno mapped to the classic automation error
// numbers. The caller's path may hold links; a FIFO or device is refused without blocking.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/automation_error.h"
#include "platform/binary_file.h"
#include "platform/utf.h"
#include "posix/errno_error.h"
#include "posix/safe_open.h"

namespace platform {
namespace {

int fd_of(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

BinaryFile BinaryFile::open_read_write(std::u16string_view path) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
    throw AutomationError(errnum::kBadFileName);
  }
  const std::string native = resolve_named_path(to_utf8(path));
  int fd = open_regular_file(AT_FDCWD, native.c_str(), O_RDWR | O_CREAT, 0666);
  bool writable = true;
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    // An existing file that may only be read is opened for reading alone.
    const int open_error = errno;
    fd = open_regular_file(AT_FDCWD, native.c_str(), O_RDONLY);
    writable = false;
    if (fd < 0) throw_errno(open_error);
  }
  if (fd < 0) throw_errno(errno);  // ENXIO, not a regular file: 75
  return BinaryFile(fd, writable);
}

BinaryFile::BinaryFile(BinaryFile&& other) noexcept
    : handle_(other.handle_), writable_(other.writable_) {
  other.handle_ = -1;
}

BinaryFile& BinaryFile::operator=(BinaryFile&& other) noexcept {
  if (this != &other) {
    if (handle_ >= 0) ::close(fd_of(handle_));
    handle_ = other.handle_;
    writable_ = other.writable_;
    other.handle_ = -1;
  }
  return *this;
}

BinaryFile::~BinaryFile() {
  if (handle_ >= 0) ::close(fd_of(handle_));
}

uint64_t BinaryFile::size() const {
  struct stat st {};
  if (::fstat(fd_of(handle_), &st) != 0) throw_errno(errno);
  return static_cast<uint64_t>(st.st_size);
}

std::vector<uint8_t> BinaryFile::read_from_start(size_t max_bytes) const {
  const uint64_t file_size = size();
  const size_t wanted = file_size < max_bytes ? static_cast<size_t>(file_size) : max_bytes;
  std::vector<uint8_t> bytes(wanted);
  size_t done = 0;
  while (done < wanted) {
    const ssize_t n = ::pread(fd_of(handle_), bytes.data() + done, wanted - done,
                              static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw_errno(errno);
    }
    if (n == 0) break;  // the file shrank meanwhile
    done += static_cast<size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

void BinaryFile::write_at_start(std::span<const uint8_t> bytes) {
  if (!writable_) throw AutomationError(errnum::kPathFileAccess);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pwrite(fd_of(handle_), bytes.data() + done, bytes.size() - done,
                               static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw_errno(errno);
    }
    done += static_cast<size_t>(n);
  }
}

void BinaryFile::close() {
  if (handle_ < 0) return;
  const int fd = fd_of(handle_);
  handle_ = -1;
  if (::close(fd) != 0 && errno != EINTR) throw_errno(errno);
}

}  // namespace platform
