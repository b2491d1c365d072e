#pragma once
// The one way the POSIX code opens a file whose name it found in the store, or a file a
// caller or administrator named: the store is written by others, so any name may turn out to
// be a link, a FIFO, a device or a folder at the moment it is opened.
//
// open_regular_file adds to the caller's flags, always:
//  - O_NOFOLLOW: a link at the name is refused (ELOOP), never followed; beneath a folder's
//    descriptor the name is resolved with openat2(RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS) where
//    the kernel has it;
//  - O_NONBLOCK: the open of a FIFO or device returns at once; it is cleared again on the
//    open descriptor, so reads and writes of the regular file behave as usual, unless the
//    caller's flags hold it too (reads of a regular file do not heed it on Linux's file
//    systems, and a caller that keeps it saves the fcntl);
//  - O_CLOEXEC and O_NOCTTY: not inherited by child processes, never a controlling terminal.
// The descriptor is then checked by fstat: anything but a regular file is closed and refused;
// that status is the caller's too, when it asks for it, so that it need not ask the kernel again.
// The header needs only system headers, so that the console's server can use it too.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace platform {

// Opens name (one component beneath dir, or a whole path when dir is AT_FDCWD) as a regular
// file with flags (access mode, O_CREAT, O_EXCL, O_APPEND, O_TRUNC, O_NOATIME, O_NONBLOCK)
// and mode.
// Returns the descriptor, or -1 with errno: ELOOP (or EXDEV beneath a folder) for a link,
// ENXIO for what is not a regular file, else the open's own. status, when given, receives the
// open file's fstat.
int open_regular_file(int dir, const char* name, int flags, mode_t mode = 0,
                      struct stat* status = nullptr) noexcept;

// Opens name beneath dir with flags, O_NOFOLLOW and O_CLOEXEC added, by the same resolution
// rules, without checking its kind: for folders (O_DIRECTORY).
int open_beneath(int dir, const char* name, int flags, mode_t mode = 0) noexcept;

// The path with every link in it resolved, for paths that a caller named (a link given as the
// file is the caller's to give); the path itself when it cannot be resolved (a file not yet
// created).
std::string resolve_named_path(const std::string& path);

}  // namespace platform
