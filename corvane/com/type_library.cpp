#include "corvane/com/type_library.h"

#include <mutex>

#include "corvane/com/com_error.h"
#include "platform/automation_error.h"

namespace corvane::com {
namespace {

ITypeLib* load_type_library() {
  ITypeLib* lib = nullptr;
  throw_if_failed(LoadTypeLibEx(module_path().c_str(), REGKIND_NONE, &lib), L"LoadTypeLibEx");
  return lib;
}

}  // namespace

HMODULE this_module() noexcept {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&this_module), &module);
  return module;
}

std::wstring module_path() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(this_module(), path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) throw_if_failed(HRESULT_FROM_WIN32(GetLastError()), L"GetModuleFileName");
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

com_ptr<ITypeLib> type_library() {
  // Loaded once and kept: the library lives as long as the process has the DLL loaded.
  static ITypeLib* const lib = load_type_library();
  return com_ptr<ITypeLib>::copy(lib);
}

com_ptr<ITypeInfo> type_info_of(REFGUID guid) {
  com_ptr<ITypeInfo> info;
  throw_if_failed(type_library()->GetTypeInfoOfGuid(guid, info.put()), L"GetTypeInfoOfGuid");
  return info;
}

com_ptr<IRecordInfo> record_info_of(REFGUID record_guid) {
  com_ptr<IRecordInfo> info;
  throw_if_failed(GetRecordInfoFromTypeInfo(type_info_of(record_guid).get(), info.put()),
                  L"GetRecordInfoFromTypeInfo");
  return info;
}

void throw_if_failed(HRESULT hr, const wchar_t* what) {
  if (SUCCEEDED(hr)) return;
  if (hr == E_OUTOFMEMORY) throw platform::AutomationError(platform::errnum::kOutOfMemory);
  std::u16string text(reinterpret_cast<const char16_t*>(what));
  wchar_t code[16];
  wsprintfW(code, L" failed: 0x%08lX", static_cast<unsigned long>(hr));
  text += reinterpret_cast<const char16_t*>(code);
  throw platform::AutomationError(number_of(hr), std::move(text));
}

}  // namespace corvane::com
