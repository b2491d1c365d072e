#include "sorter/ui/version_resource.h"

#include <windows.h>

#include <vector>

namespace sorter::ui {
namespace {

// version.dll is no known system library, so the loader would look for an imported one in the
// program's folder, the shared store, before System32: it is loaded from System32 by hand.
class VersionLibrary {
 public:
  VersionLibrary()
      : module_(LoadLibraryExW(L"version.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)),
        size_(find<decltype(&GetFileVersionInfoSizeW)>("GetFileVersionInfoSizeW")),
        info_(find<decltype(&GetFileVersionInfoW)>("GetFileVersionInfoW")),
        query_(find<decltype(&VerQueryValueW)>("VerQueryValueW")) {}
  ~VersionLibrary() {
    if (module_) FreeLibrary(module_);
  }
  VersionLibrary(const VersionLibrary&) = delete;
  VersionLibrary& operator=(const VersionLibrary&) = delete;

  bool loaded() const { return size_ && info_ && query_; }
  DWORD size(const wchar_t* path, DWORD* handle) const { return size_(path, handle); }
  BOOL info(const wchar_t* path, DWORD bytes, void* block) const {
    return info_(path, 0, bytes, block);
  }
  BOOL query(const void* block, const wchar_t* key, void** value, UINT* bytes) const {
    return query_(block, key, value, bytes);
  }

 private:
  template <typename Fn>
  Fn find(const char* name) const {
    return module_ ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)))
                   : nullptr;
  }
  HMODULE module_;
  decltype(&GetFileVersionInfoSizeW) size_;
  decltype(&GetFileVersionInfoW) info_;
  decltype(&VerQueryValueW) query_;
};

std::wstring own_path() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return path.substr(0, n);
    path.resize(path.size() * 2);
  }
}

std::wstring query_string(const VersionLibrary& library, std::vector<BYTE>& block,
                          const wchar_t* name) {
  struct Translation {
    WORD language;
    WORD code_page;
  };
  Translation* translations = nullptr;
  UINT bytes = 0;
  if (!library.query(block.data(), L"\\VarFileInfo\\Translation",
                     reinterpret_cast<void**>(&translations), &bytes) ||
      bytes < sizeof(Translation))
    return {};
  wchar_t key[64];
  wsprintfW(key, L"\\StringFileInfo\\%04x%04x\\%s", translations->language,
            translations->code_page, name);
  wchar_t* value = nullptr;
  UINT chars = 0;
  if (!library.query(block.data(), key, reinterpret_cast<void**>(&value), &chars) || !value)
    return {};
  std::wstring text(value, chars);
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

}  // namespace

ProgramVersion read_own_version() {
  ProgramVersion version;
  const VersionLibrary library;
  if (!library.loaded()) return version;
  const std::wstring path = own_path();
  DWORD handle = 0;
  const DWORD size = library.size(path.c_str(), &handle);
  if (size == 0) return version;
  std::vector<BYTE> block(size);
  if (!library.info(path.c_str(), size, block.data())) return version;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT bytes = 0;
  if (library.query(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &bytes) &&
      bytes >= sizeof(VS_FIXEDFILEINFO)) {
    version.major = HIWORD(fixed->dwFileVersionMS);
    version.minor = LOWORD(fixed->dwFileVersionMS);
    version.revision = HIWORD(fixed->dwFileVersionLS);
  }
  version.comment = query_string(library, block, L"Comments");
  return version;
}

}  // namespace sorter::ui
