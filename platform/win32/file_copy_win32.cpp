#include <windows.h>

#include <string>

#include "platform/file_copy.h"
#include "win32/win32_error.h"

namespace platform {
namespace {

std::wstring full_path(const std::wstring& path) {
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring out(needed, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), needed, out.data(), nullptr);
  out.resize(length);
  return out;
}

}  // namespace

void copy_file_replacing(std::u16string_view source, std::u16string_view target) {
  if (source.empty() || target.empty()) throw AutomationError(errnum::kBadFileName);
  const std::wstring from(source.begin(), source.end());
  const std::wstring to(target.begin(), target.end());
  if (CompareStringOrdinal(full_path(from).c_str(), -1, full_path(to).c_str(), -1, TRUE) ==
          CSTR_EQUAL &&
      GetFileAttributesW(from.c_str()) != INVALID_FILE_ATTRIBUTES) {
    return;  // the same file: nothing to copy
  }
  if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) throw_win32(GetLastError());
}

}  // namespace platform
