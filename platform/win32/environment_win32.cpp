// The process environment on Windows.

#include <windows.h>

#include <string>

#include "platform/automation_error.h"
#include "platform/environment.h"

namespace platform {

std::optional<std::u16string> environment_variable(std::u16string_view name) {
  const std::wstring n(name.begin(), name.end());
  SetLastError(ERROR_SUCCESS);
  const DWORD size = GetEnvironmentVariableW(n.c_str(), nullptr, 0);
  if (size == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::u16string();
  }
  std::wstring value(size, L'\0');
  const DWORD got = GetEnvironmentVariableW(n.c_str(), value.data(), size);
  value.resize(got < size ? got : 0);
  return std::u16string(value.begin(), value.end());
}

std::u16string executable_folder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) throw AutomationError(errnum::kPathFileAccess, u"The program's folder is not known");
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  path.resize(path.find_last_of(L'\\') == std::wstring::npos ? 0 : path.find_last_of(L'\\'));
  return std::u16string(path.begin(), path.end());
}

}  // namespace platform
