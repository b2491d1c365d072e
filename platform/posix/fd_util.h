#pragma once
// Small helpers shared by the POSIX file implementations: an owning file descriptor, complete
// writes and copies, the error for a path that does not exist, folder reading, and what a
// stat(2) result says of an entry.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "posix/errno_error.h"

namespace platform {

// Closes the descriptor it owns.
struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  // Closes now and reports a failure to close.
  void close_checked() {
    const int f = fd;
    fd = -1;
    if (f >= 0 && ::close(f) != 0 && errno != EINTR) throw_errno(errno);
  }
};

inline void write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw_errno(errno);
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

// Copies everything from in (at its current position) to out.
inline void copy_contents(int in, int out) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw_errno(errno);
    }
    if (n == 0) return;
    write_all(out, buffer.data(), static_cast<size_t>(n));
  }
}

// A missing file in an existing folder is "file not found", else the folder is missing.
[[noreturn]] inline void throw_missing(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) throw AutomationError(errnum::kFileNotFound);
  throw AutomationError(errnum::kPathNotFound);
}

// Calls f(name) for every entry of the folder behind dir but "." and "..". The names are read
// whole first, so f may change the folder; a failed read of the folder throws.
template <typename F>
void for_each_entry(int dir, F&& f) {
  const int copy = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (copy < 0) throw_errno(errno);
  DIR* d = ::fdopendir(copy);
  if (d == nullptr) {
    ::close(copy);
    throw_errno(errno);
  }
  std::vector<std::string> names;
  while (const dirent* e = (errno = 0, ::readdir(d))) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
      names.emplace_back(e->d_name);
    }
  }
  const int error = errno;
  ::closedir(d);
  if (error != 0) throw_errno(error);
  for (const auto& n : names) f(n);
}

// The kind of entry a stat(2) mode describes (a link only where the stat did not follow it).
inline EntryKind entry_kind_of(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::file;
  if (S_ISDIR(mode)) return EntryKind::folder;
  if (S_ISLNK(mode)) return EntryKind::link;
  return EntryKind::other;
}

// Seconds from a file time (st_mtim, say) to now by the wall clock.
inline double seconds_since(const timespec& then) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<double>(now.tv_sec - then.tv_sec) +
         static_cast<double>(now.tv_nsec - then.tv_nsec) / 1e9;
}

}  // namespace platform
