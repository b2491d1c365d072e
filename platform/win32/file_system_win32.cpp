// File-system services on Windows: the file system ignores letter case itself, moves go
// through ConfinedFolder::move_file (a rename through the file's own handle, and a crash-safe
// copy across volumes), so an existing target is never replaced.

#include <windows.h>

#include "platform/confined_folder.h"
#include "platform/file_system.h"
#include "win32/removal_handle_win32.h"
#include "win32/win32_error.h"

namespace platform {
namespace {

std::wstring wide(std::u16string_view path) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
    throw AutomationError(errnum::kBadFileName);
  }
  return std::wstring(path.begin(), path.end());
}

[[noreturn]] void throw_last_error() {
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
    throw AutomationError(errnum::kFileExists);
  }
  throw_win32(error);
}

struct Handle {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

double filetime_seconds(const FILETIME& t) {
  ULARGE_INTEGER v;
  v.LowPart = t.dwLowDateTime;
  v.HighPart = t.dwHighDateTime;
  return static_cast<double>(v.QuadPart) / 1e7;
}

}  // namespace

char16_t path_separator() { return u'\\'; }

bool file_names_ignore_case() { return true; }

EntryKind entry_kind(std::u16string_view path) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) return EntryKind::none;
  const DWORD a = GetFileAttributesW(wide(path).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return EntryKind::none;
  return (a & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::folder : EntryKind::file;
}

void create_folder(std::u16string_view path) {
  if (!CreateDirectoryW(wide(path).c_str(), nullptr)) throw_last_error();
}

void move_file_no_replace(std::u16string_view source, std::u16string_view target) {
  const auto split = [](std::u16string_view p) {
    const auto sep = p.find_last_of(u"\\/");
    if (sep == std::u16string_view::npos) return std::pair(std::u16string(u"."), std::u16string(p));
    return std::pair(std::u16string(p.substr(0, sep == 2 && p[1] == u':' ? 3 : sep)),
                     std::u16string(p.substr(sep + 1)));
  };
  wide(source);  // refuses empty names
  wide(target);
  const auto [from_folder, from_name] = split(source);
  const auto [to_folder, to_name] = split(target);
  ConfinedFolder::open(from_folder)
      .move_file(from_name, ConfinedFolder::open(to_folder), to_name);
}

// Through a handle of its own, so that of two callers deleting one file only one succeeds.
void delete_file_forced(std::u16string_view path) {
  const std::wstring p = wide(path);
  RemovalHandle::open(p, false).remove_forced(p);
}

std::optional<double> seconds_since_last_write(std::u16string_view path) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) return std::nullopt;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return filetime_seconds(now) - filetime_seconds(data.ftLastWriteTime);
}

void append_to_file(std::u16string_view path, std::string_view bytes) {
  Handle file;
  file.h = CreateFileW(wide(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                       nullptr);
  if (file.h == INVALID_HANDLE_VALUE) throw_last_error();
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandle(file.h, &info) &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    throw AutomationError(errnum::kPathFileAccess, std::u16string(kLinkRefusedText));
  }
  DWORD written = 0;
  if (!WriteFile(file.h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size()) {
    throw_last_error();
  }
}

std::u16string resolve_ignoring_case(std::u16string_view path) { return std::u16string(path); }

struct FolderReader::Impl {
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW data{};
  bool pending = false;  // data holds an entry not yet returned
  ~Impl() {
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
  }
};

FolderReader::FolderReader(std::u16string_view folder) : impl_(std::make_unique<Impl>()) {
  const std::wstring pattern = wide(folder) + L"\\*";
  impl_->find = FindFirstFileW(pattern.c_str(), &impl_->data);
  if (impl_->find == INVALID_HANDLE_VALUE) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) throw_last_error();
  } else {
    impl_->pending = true;
  }
}

FolderReader::FolderReader(FolderReader&&) noexcept = default;
FolderReader& FolderReader::operator=(FolderReader&&) noexcept = default;
FolderReader::~FolderReader() = default;

std::optional<FolderReader::Entry> FolderReader::next() {
  while (impl_->find != INVALID_HANDLE_VALUE) {
    if (!impl_->pending) {
      if (!FindNextFileW(impl_->find, &impl_->data)) {
        if (GetLastError() != ERROR_NO_MORE_FILES) throw_last_error();
        return std::nullopt;
      }
    }
    impl_->pending = false;
    const std::wstring_view name = impl_->data.cFileName;
    if (name == L"." || name == L"..") continue;
    const DWORD a = impl_->data.dwFileAttributes;
    EntryKind kind = EntryKind::file;
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) kind = EntryKind::other;
    else if (a & FILE_ATTRIBUTE_DIRECTORY) kind = EntryKind::folder;
    return Entry{std::u16string(name.begin(), name.end()), kind};
  }
  return std::nullopt;
}

}  // namespace platform
