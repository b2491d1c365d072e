// Sequential file reading on Windows: CreateFileW with OPEN_EXISTING, sharing read and write,
// Win32 errors mapped to the classic numbers.

#include <windows.h>

#include <string>

#include "platform/automation_error.h"
#include "platform/input_file.h"
#include "win32/win32_error.h"

namespace platform {
namespace {

HANDLE as_handle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

InputFile InputFile::open(std::u16string_view path) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
    throw AutomationError(errnum::kBadFileName);
  }
  const std::wstring native(path.begin(), path.end());
  HANDLE h = CreateFileW(native.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw_win32(GetLastError());
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    throw AutomationError(errnum::kPathFileAccess);
  }
  return InputFile(reinterpret_cast<intptr_t>(h));
}

InputFile::InputFile(InputFile&& other) noexcept : handle_(other.handle_) {
  other.handle_ = -1;
}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    if (handle_ != -1) CloseHandle(as_handle(handle_));
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

InputFile::~InputFile() {
  if (handle_ != -1) CloseHandle(as_handle(handle_));
}

std::size_t InputFile::read(std::span<uint8_t> buffer) {
  if (handle_ == -1) throw AutomationError(errnum::kBadFileName);
  const DWORD chunk = static_cast<DWORD>(buffer.size() > (1u << 30) ? (1u << 30) : buffer.size());
  DWORD got = 0;
  if (!ReadFile(as_handle(handle_), buffer.data(), chunk, &got, nullptr)) {
    const DWORD error = GetLastError();
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return 0;
    throw_win32(error);
  }
  return got;
}

void InputFile::close() {
  if (handle_ == -1) return;
  CloseHandle(as_handle(handle_));
  handle_ = -1;
}

}  // namespace platform
