#pragma once
// Small files of the console's own (certificate, key, teachers' accounts), read and written
// whole. A file is replaced through a temporary file in its folder, created with its final mode
// (so a key is never readable by others, not even for a moment) and renamed over the old one.

#include <optional>
#include <string>
#include <sys/types.h>

namespace sorter::console {

struct FileOwner {
  uid_t uid;
  gid_t gid;
};

bool state_file_exists(const std::string& path);

// The file's bytes, at most 1 MiB; a link the caller named is followed, a FIFO or device is
// refused without blocking. Throws std::runtime_error.
std::string read_state_file(const std::string& path);

// Throws std::runtime_error unless the file belongs to this user and no one else may read it.
void check_private_file(const std::string& path);

// Writes bytes as the file's new content with the mode, and the owner when given (as root:
// a file written for the service's user). Throws std::runtime_error.
void replace_state_file(const std::string& path, const std::string& bytes, mode_t mode,
                        std::optional<FileOwner> owner = std::nullopt);

// The owner of a file or folder, if it exists.
std::optional<FileOwner> owner_of(const std::string& path);

}  // namespace sorter::console
