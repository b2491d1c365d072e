#include "win32/removal_handle_win32.h"

#include <cstring>
#include <vector>

#include "win32/win32_error.h"

namespace platform {
namespace {

// Another caller's removal handle is held for a few system calls only; a reader a little longer.
constexpr int kWaits = 8;  // 1, 2, 4 ... 128 ms: a quarter of a second in all

bool set_delete_disposition(HANDLE h) {
  FILE_DISPOSITION_INFO info{};
  info.DeleteFile = TRUE;
  return SetFileInformationByHandle(h, FileDispositionInfo, &info, sizeof info) != 0;
}

}  // namespace

HANDLE open_when_free(const std::wstring& path, DWORD access, DWORD share, DWORD flags) {
  for (int attempt = 0;; ++attempt) {
    const HANDLE h =
        CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    if (h != INVALID_HANDLE_VALUE) return h;
    const DWORD error = GetLastError();
    const DWORD a = GetFileAttributesW(path.c_str());
    const DWORD lookup = a == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
    const bool folder = a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    const bool may_clear = error == ERROR_SHARING_VIOLATION ||
                           (error == ERROR_ACCESS_DENIED && !folder);
    if (may_clear && lookup == ERROR_FILE_NOT_FOUND) {
      SetLastError(ERROR_FILE_NOT_FOUND);  // taken by the other caller while we waited
      return INVALID_HANDLE_VALUE;
    }
    if (!may_clear || attempt == kWaits) {
      SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
    Sleep(1u << attempt);
  }
}

RemovalHandle RemovalHandle::open(const std::wstring& path, bool folders_too) {
  const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (folders_too ? FILE_FLAG_BACKUP_SEMANTICS : 0);
  // Read and write sharing only: no other handle may delete or rename the file meanwhile.
  const HANDLE h = open_when_free(path, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, flags);
  if (h == INVALID_HANDLE_VALUE) throw_win32(GetLastError());
  return RemovalHandle(h);
}

DWORD RemovalHandle::attributes() const {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h_, &info)) throw_win32(GetLastError());
  return info.dwFileAttributes;
}

void RemovalHandle::remove_forced(const std::wstring& path) {
  if (set_delete_disposition(h_)) return close();
  const DWORD error = GetLastError();
  const DWORD a = attributes();
  if (error != ERROR_ACCESS_DENIED || !(a & FILE_ATTRIBUTE_READONLY) ||
      (a & FILE_ATTRIBUTE_DIRECTORY)) {
    throw_win32(error);
  }
  // The attribute change by name opens the file sharing everything, so this handle allows it.
  if (SetFileAttributesW(path.c_str(), a & ~FILE_ATTRIBUTE_READONLY) && set_delete_disposition(h_)) {
    return close();
  }
  const DWORD again = GetLastError();
  SetFileAttributesW(path.c_str(), a);
  throw_win32(again);
}

DWORD RemovalHandle::rename_to(const std::wstring& target) {
  const DWORD length = GetFullPathNameW(target.c_str(), 0, nullptr, nullptr);
  if (length == 0) return GetLastError();
  std::wstring full(length, L'\0');
  const DWORD written = GetFullPathNameW(target.c_str(), length, full.data(), nullptr);
  if (written == 0 || written >= length) return written == 0 ? GetLastError() : ERROR_BAD_PATHNAME;
  full.resize(written);
  const std::size_t name_bytes = full.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name_bytes);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = FALSE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(name_bytes);
  std::memcpy(info->FileName, full.data(), name_bytes);
  if (!SetFileInformationByHandle(h_, FileRenameInfo, info, static_cast<DWORD>(buffer.size()))) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

void RemovalHandle::close() noexcept {
  if (h_ == INVALID_HANDLE_VALUE) return;
  CloseHandle(h_);
  h_ = INVALID_HANDLE_VALUE;
}

}  // namespace platform
