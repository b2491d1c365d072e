#include "sorter/ui/version_resource.h"

#include <windows.h>

#include <vector>

namespace sorter::ui {
namespace {

std::wstring own_path() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return path.substr(0, n);
    path.resize(path.size() * 2);
  }
}

std::wstring query_string(std::vector<BYTE>& block, const wchar_t* name) {
  struct Translation {
    WORD language;
    WORD code_page;
  };
  Translation* translations = nullptr;
  UINT bytes = 0;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translations), &bytes) ||
      bytes < sizeof(Translation))
    return {};
  wchar_t key[64];
  wsprintfW(key, L"\\StringFileInfo\\%04x%04x\\%s", translations->language,
            translations->code_page, name);
  wchar_t* value = nullptr;
  UINT chars = 0;
  if (!VerQueryValueW(block.data(), key, reinterpret_cast<void**>(&value), &chars) || !value)
    return {};
  std::wstring text(value, chars);
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

}  // namespace

ProgramVersion read_own_version() {
  ProgramVersion version;
  const std::wstring path = own_path();
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0) return version;
  std::vector<BYTE> block(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return version;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT bytes = 0;
  if (VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &bytes) &&
      bytes >= sizeof(VS_FIXEDFILEINFO)) {
    version.major = HIWORD(fixed->dwFileVersionMS);
    version.minor = LOWORD(fixed->dwFileVersionMS);
    version.revision = HIWORD(fixed->dwFileVersionLS);
  }
  version.comment = query_string(block, L"Comments");
  return version;
}

}  // namespace sorter::ui
