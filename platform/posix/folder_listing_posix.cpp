// Folder listings on POSIX: the names are read from the folder's descriptor and each entry is
// examined with fstatat beneath it, without following a link. fstatat opens nothing, so a FIFO
// in the folder cannot block the listing.

#include "platform/folder_listing.h"
#include "platform/utf.h"
#include "posix/fd_util.h"

namespace platform {

std::vector<ListedEntry> list_folder(const ConfinedFolder& folder) {
  const int dir = static_cast<int>(folder.native_handle());
  std::vector<ListedEntry> entries;
  for_each_entry(dir, [&](const std::string& name) {
    ListedEntry entry{from_utf8(name), EntryKind::other, 0, std::nullopt};
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) return;  // removed since the folder was read
    } else {
      entry.kind = entry_kind_of(st.st_mode);
      if (entry.kind == EntryKind::file) {
        entry.size = static_cast<std::uint64_t>(st.st_size);
        entry.age_seconds = seconds_since(st.st_mtim);
      }
    }
    entries.push_back(std::move(entry));
  });
  return entries;
}

}  // namespace platform
