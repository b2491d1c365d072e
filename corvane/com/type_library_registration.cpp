#include "corvane/com/type_library_registration.h"

#include <ole2.h>

#include <string>

#include "corvane/com/type_library.h"
#include "corvane/com/unique_resource.h"
#include "platform/automation_error.h"

namespace corvane::com {

namespace {

constexpr wchar_t kLibidKey[] = L"TypeLib\\{A02E87AA-BB35-4AC0-BA59-B2B975D64CEA}";
// The library's version as the system spells it in the registry: 30.0 in hexadecimal.
constexpr wchar_t kTypeLibVersionKey[] = L"1e.0";

// Points HKEY_CLASSES_ROOT of this process at the user's classes for the life of the object,
// for the user scope; does nothing for the machine scope.
class ClassesRootRedirect {
 public:
  explicit ClassesRootRedirect(Scope scope) {
    if (scope != Scope::kUser) return;
    unique_hkey user_classes;
    LONG status = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, user_classes.put(), nullptr);
    throw_if_failed(HRESULT_FROM_WIN32(status), L"RegCreateKeyEx");
    status = RegOverridePredefKey(HKEY_CLASSES_ROOT, user_classes.get());
    throw_if_failed(HRESULT_FROM_WIN32(status), L"RegOverridePredefKey");
    active_ = true;
  }
  ~ClassesRootRedirect() {
    if (active_) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  }
  ClassesRootRedirect(const ClassesRootRedirect&) = delete;
  ClassesRootRedirect& operator=(const ClassesRootRedirect&) = delete;

 private:
  bool active_ = false;
};

bool key_exists(HKEY root, const std::wstring& key) {
  unique_hkey opened;
  return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

// Earlier releases wrote the version key in decimal ("30.0"), which no lookup finds; it is
// removed wherever registration or unregistration meets it.
void remove_decimal_version_key() {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(kLibidKey) + L"\\30.0").c_str());
  unique_hkey libid;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kLibidKey, 0, KEY_READ, libid.put()) != ERROR_SUCCESS)
    return;
  DWORD subkeys = 0, values = 0;
  RegQueryInfoKeyW(libid.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                   nullptr, nullptr, nullptr, nullptr);
  libid.reset();
  if (subkeys == 0 && values == 0) RegDeleteKeyW(HKEY_CLASSES_ROOT, kLibidKey);
}

}  // namespace

void register_type_library(Scope scope) {
  const ClassesRootRedirect redirect(scope);
  remove_decimal_version_key();
  const auto lib = type_library();
  std::wstring path = module_path();
  throw_if_failed(RegisterTypeLib(lib.get(), path.data(), nullptr), L"RegisterTypeLib");
}

void unregister_type_library(Scope scope) {
  const ClassesRootRedirect redirect(scope);
  remove_decimal_version_key();
  if (!key_exists(HKEY_CLASSES_ROOT, std::wstring(kLibidKey) + L"\\" + kTypeLibVersionKey)) return;
  TLIBATTR* attr = nullptr;
  const auto lib = type_library();
  throw_if_failed(lib->GetLibAttr(&attr), L"GetLibAttr");
  const TLIBATTR copy = *attr;
  lib->ReleaseTLibAttr(attr);
  throw_if_failed(UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid,
                                    copy.syskind),
                  L"UnRegisterTypeLib");
}

}  // namespace corvane::com
