#include "corvane/com/registration.h"

#include <olectl.h>

#include <string>
#include <vector>

#include "corvane/com/com_error.h"
#include "corvane/com/type_library.h"
#include "corvane/com/type_library_registration.h"
#include "corvane/com/unique_resource.h"
#include "corvane/model/library_identity.h"

namespace corvane::com {
namespace {

constexpr wchar_t kClsid[] = L"{979CEE9F-5A48-4170-ADF3-137DCCB79C78}";
constexpr wchar_t kLibid[] = L"{A02E87AA-BB35-4AC0-BA59-B2B975D64CEA}";
constexpr wchar_t kProgId[] = L"" CORVANE_PROG_ID;
// The class's VERSION key names the library version in decimal, unlike the TypeLib keys.
constexpr wchar_t kLibraryVersion[] = L"30.0";

struct Value {
  std::wstring key;   // below the classes root
  std::wstring name;  // empty for the key's default value
  std::wstring data;
};

std::vector<Value> registry_values(const std::wstring& dll) {
  const std::wstring clsid = std::wstring(L"CLSID\\") + kClsid;
  return {
      {clsid, L"", L"MailObjectModel"},
      {clsid + L"\\InprocServer32", L"", dll},
      {clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {clsid + L"\\ProgID", L"", kProgId},
      {clsid + L"\\Programmable", L"", L""},
      {clsid + L"\\TypeLib", L"", kLibid},
      {clsid + L"\\VERSION", L"", kLibraryVersion},
      {kProgId, L"", kProgId},
      {std::wstring(kProgId) + L"\\Clsid", L"", kClsid},
  };
}

// The keys of the class that unregistration deletes with everything below them.
std::vector<std::wstring> registered_trees() {
  return {std::wstring(L"CLSID\\") + kClsid, kProgId};
}

unique_hkey open_classes_root(Scope scope) {
  unique_hkey root;
  const HKEY base = scope == Scope::kUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  const LONG status = RegCreateKeyExW(base, L"Software\\Classes", 0, nullptr, 0,
                                      KEY_READ | KEY_WRITE, nullptr, root.put(), nullptr);
  throw_if_failed(HRESULT_FROM_WIN32(status), L"RegCreateKeyEx");
  return root;
}

void write(HKEY root, const Value& value) {
  unique_hkey key;
  LONG status = RegCreateKeyExW(root, value.key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                key.put(), nullptr);
  throw_if_failed(HRESULT_FROM_WIN32(status), L"RegCreateKeyEx");
  const auto bytes = static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t));
  status = RegSetValueExW(key.get(), value.name.empty() ? nullptr : value.name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.data.c_str()), bytes);
  throw_if_failed(HRESULT_FROM_WIN32(status), L"RegSetValueEx");
}

void delete_tree(HKEY root, const std::wstring& key) {
  const LONG status = RegDeleteTreeW(root, key.c_str());
  if (status != ERROR_FILE_NOT_FOUND) throw_if_failed(HRESULT_FROM_WIN32(status), L"RegDeleteTree");
}

HRESULT to_result(HRESULT hr) {
  // regsvr32 reports SELFREG_E_CLASS for any registration failure.
  return FAILED(hr) ? SELFREG_E_CLASS : hr;
}

}  // namespace

HRESULT register_server(Scope scope) noexcept {
  const HRESULT hr = com_call([scope] {
    const auto root = open_classes_root(scope);
    for (const auto& value : registry_values(module_path())) write(root.get(), value);
    register_type_library(scope);
  });
  if (FAILED(hr)) unregister_server(scope);
  return to_result(hr);
}

HRESULT unregister_server(Scope scope) noexcept {
  return to_result(com_call([scope] {
    unregister_type_library(scope);
    const auto root = open_classes_root(scope);
    for (const auto& key : registered_trees()) delete_tree(root.get(), key);
  }));
}

Scope scope_of_command_line(const wchar_t* command_line) noexcept {
  return command_line && lstrcmpiW(command_line, L"user") == 0 ? Scope::kUser : Scope::kMachine;
}

}  // namespace corvane::com
