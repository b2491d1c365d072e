// Folder listings on Windows: one search of the folder gives every entry's attributes, size
// and last write time, as the directory holds them, without opening an entry. The folder's
// handle, held without delete sharing, keeps its path naming the same folder meanwhile.

#include <windows.h>

#include "platform/folder_listing.h"
#include "win32/win32_error.h"

namespace platform {
namespace {

struct FindHandle {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~FindHandle() {
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
  }
};

std::uint64_t quad(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

EntryKind kind_of(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::folder;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return EntryKind::other;
  return EntryKind::file;
}

}  // namespace

std::vector<ListedEntry> list_folder(const ConfinedFolder& folder) {
  std::u16string pattern = folder.path();
  if (pattern.empty() || pattern.back() != u'\\') pattern += u'\\';
  pattern += u'*';
  const std::wstring wide_pattern(pattern.begin(), pattern.end());
  WIN32_FIND_DATAW data{};
  FindHandle find;
  find.h = FindFirstFileExW(wide_pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                            nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find.h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return {};
    throw_win32(error);
  }
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t now_ticks = quad(now.dwHighDateTime, now.dwLowDateTime);
  std::vector<ListedEntry> entries;
  do {
    const std::wstring_view name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    ListedEntry entry{std::u16string(name.begin(), name.end()), kind_of(data.dwFileAttributes), 0,
                      std::nullopt};
    if (entry.kind == EntryKind::file) {
      entry.size = quad(data.nFileSizeHigh, data.nFileSizeLow);
      const std::uint64_t written =
          quad(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
      entry.age_seconds = (static_cast<double>(now_ticks) - static_cast<double>(written)) / 1e7;
    }
    entries.push_back(std::move(entry));
  } while (FindNextFileW(find.h, &data));
  if (GetLastError() != ERROR_NO_MORE_FILES) throw_win32(GetLastError());
  return entries;
}

}  // namespace platform
