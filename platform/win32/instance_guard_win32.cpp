// The single-instance test on Windows: a named mutex in the user's session. The name is held
// as long as a handle to it is open.

#include <windows.h>

#include <cwchar>
#include <string>

#include "platform/instance_guard.h"

namespace platform {

struct InstanceGuard::Impl {
  HANDLE mutex = nullptr;
  bool other = false;
  ~Impl() {
    if (mutex != nullptr) CloseHandle(mutex);
  }
};

InstanceGuard::InstanceGuard(std::u16string_view name) : impl_(std::make_unique<Impl>()) {
  std::wstring full = L"Local\\";
  for (const char16_t c : name) full += c == u'\\' ? L'_' : static_cast<wchar_t>(c);
  impl_->mutex = CreateMutexW(nullptr, FALSE, full.c_str());
  impl_->other = impl_->mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
}

InstanceGuard InstanceGuard::for_folder(std::u16string_view path) {
  InstanceGuard guard;
  guard.impl_ = std::make_unique<Impl>();
  const std::wstring p(path.begin(), path.end());
  HANDLE folder = CreateFileW(p.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE |
                              FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return guard;
  wchar_t final_path[32768];
  const DWORD n = GetFinalPathNameByHandleW(folder, final_path, 32768, FILE_NAME_NORMALIZED);
  CloseHandle(folder);
  if (n == 0 || n >= 32768) return guard;
  // Mutex names may not hold '\\' and are limited to MAX_PATH: the path's hash stands in.
  CharUpperBuffW(final_path, n);
  unsigned long long hash = 1469598103934665603ull;
  for (DWORD i = 0; i < n; ++i) hash = (hash ^ final_path[i]) * 1099511628211ull;
  wchar_t name[64];
  swprintf(name, 64, L"Local\\CorvaneFolder-%016llx", hash);
  guard.impl_->mutex = CreateMutexW(nullptr, FALSE, name);
  guard.impl_->other = guard.impl_->mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
  return guard;
}

// Opening the mutex to ask after it would keep its name taken for as long as the handle is
// open, and a guard made in that moment would find another copy: not asked.
std::optional<bool> InstanceGuard::folder_claimed(std::u16string_view) { return std::nullopt; }

InstanceGuard::InstanceGuard(InstanceGuard&&) noexcept = default;
InstanceGuard& InstanceGuard::operator=(InstanceGuard&&) noexcept = default;
InstanceGuard::~InstanceGuard() = default;

bool InstanceGuard::another_copy_running() const { return impl_ && impl_->other; }

}  // namespace platform
