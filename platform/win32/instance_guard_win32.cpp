// The single-instance test on Windows: a named mutex in the user's session. The name is held
// as long as a handle to it is open.

#include <windows.h>

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

InstanceGuard::InstanceGuard(InstanceGuard&&) noexcept = default;
InstanceGuard& InstanceGuard::operator=(InstanceGuard&&) noexcept = default;
InstanceGuard::~InstanceGuard() = default;

bool InstanceGuard::another_copy_running() const { return impl_ && impl_->other; }

}  // namespace platform
