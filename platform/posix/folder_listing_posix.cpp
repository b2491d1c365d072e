// Folder listings on POSIX: the names are read from the folder's descriptor and each entry is
// examined with fstatat beneath it, without following a link. fstatat opens nothing, so a FIFO
// in the folder cannot block the listing.

#include <time.h>

#include "platform/folder_listing.h"
#include "platform/utf.h"
#include "posix/fd_util.h"

namespace platform {
namespace {

EntryKind kind_of(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::file;
  if (S_ISDIR(mode)) return EntryKind::folder;
  if (S_ISLNK(mode)) return EntryKind::link;
  return EntryKind::other;
}

double seconds_between(const timespec& earlier, const timespec& later) {
  return static_cast<double>(later.tv_sec - earlier.tv_sec) +
         static_cast<double>(later.tv_nsec - earlier.tv_nsec) / 1e9;
}

}  // namespace

std::vector<ListedEntry> list_folder(const ConfinedFolder& folder) {
  const int dir = static_cast<int>(folder.native_handle());
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::vector<ListedEntry> entries;
  for_each_entry(dir, [&](const std::string& name) {
    ListedEntry entry{from_utf8(name), EntryKind::other, 0, std::nullopt};
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) return;  // removed since the folder was read
    } else {
      entry.kind = kind_of(st.st_mode);
      if (entry.kind == EntryKind::file) {
        entry.size = static_cast<std::uint64_t>(st.st_size);
        entry.age_seconds = seconds_between(st.st_mtim, now);
      }
    }
    entries.push_back(std::move(entry));
  });
  return entries;
}

}  // namespace platform
