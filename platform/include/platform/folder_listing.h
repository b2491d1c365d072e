#pragma once
// A folder's entries with what a listing shows of each: its kind, and for files their size and
// the time since their last write. The folder is read beneath its ConfinedFolder handle and no
// entry is followed through a link, so the listing names exactly what the folder holds, under
// any name it can hold (on POSIX, bytes that are not UTF-8 come as utf.h's lone surrogates, and
// those names work in every ConfinedFolder call).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/confined_folder.h"
#include "platform/file_system.h"

namespace platform {

struct ListedEntry {
  std::u16string name;
  EntryKind kind = EntryKind::none;   // link for links and other reparse points; other for
                                      // devices, FIFOs and sockets
  std::uint64_t size = 0;             // files only
  std::optional<double> age_seconds;  // since the last write, files only; negative when that
                                      // time lies in the future
};

// Every entry but "." and ".."; one removed while the folder is read is left out. Throws
// AutomationError when the folder cannot be read.
std::vector<ListedEntry> list_folder(const ConfinedFolder& folder);

}  // namespace platform
