// Record-file access on Windows: CreateFileW with OPEN_ALWAYS (create when missing, never
// truncate), other programs may read but not write while the file is open, Win32 errors
// mapped to the classic automation error numbers.

#include <windows.h>

#include "platform/automation_error.h"
#include "platform/binary_file.h"
#include "win32/win32_error.h"

namespace platform {
namespace {

HANDLE as_handle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

std::wstring wide(std::u16string_view path) { return std::wstring(path.begin(), path.end()); }

}  // namespace

BinaryFile BinaryFile::open_read_write(std::u16string_view path) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
    throw AutomationError(errnum::kBadFileName);
  }
  const std::wstring native = wide(path);
  HANDLE h = CreateFileW(native.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool writable = true;
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    // An existing read-only file is opened for reading alone; a folder is still refused.
    const DWORD attributes = GetFileAttributesW(native.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      h = CreateFileW(native.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
      writable = false;
    }
    if (h == INVALID_HANDLE_VALUE) throw_win32(ERROR_ACCESS_DENIED);
  }
  if (h == INVALID_HANDLE_VALUE) throw_win32(GetLastError());
  return BinaryFile(reinterpret_cast<intptr_t>(h), writable);
}

BinaryFile::BinaryFile(BinaryFile&& other) noexcept
    : handle_(other.handle_), writable_(other.writable_) {
  other.handle_ = -1;
}

BinaryFile& BinaryFile::operator=(BinaryFile&& other) noexcept {
  if (this != &other) {
    if (handle_ != -1) CloseHandle(as_handle(handle_));
    handle_ = other.handle_;
    writable_ = other.writable_;
    other.handle_ = -1;
  }
  return *this;
}

BinaryFile::~BinaryFile() {
  if (handle_ != -1) CloseHandle(as_handle(handle_));
}

uint64_t BinaryFile::size() const {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(as_handle(handle_), &size)) throw_win32(GetLastError());
  return static_cast<uint64_t>(size.QuadPart);
}

std::vector<uint8_t> BinaryFile::read_from_start(size_t max_bytes) const {
  const uint64_t file_size = size();
  const size_t wanted = file_size < max_bytes ? static_cast<size_t>(file_size) : max_bytes;
  std::vector<uint8_t> bytes(wanted);
  size_t done = 0;
  while (done < wanted) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(done & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(done) >> 32);
    const DWORD chunk = static_cast<DWORD>(wanted - done > (1u << 30) ? (1u << 30) : wanted - done);
    DWORD got = 0;
    if (!ReadFile(as_handle(handle_), bytes.data() + done, chunk, &got, &at)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      throw_win32(error);
    }
    if (got == 0) break;
    done += got;
  }
  bytes.resize(done);
  return bytes;
}

void BinaryFile::write_at_start(std::span<const uint8_t> bytes) {
  if (!writable_) throw AutomationError(errnum::kPathFileAccess);
  size_t done = 0;
  while (done < bytes.size()) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(done & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(done) >> 32);
    const DWORD chunk =
        static_cast<DWORD>(bytes.size() - done > (1u << 30) ? (1u << 30) : bytes.size() - done);
    DWORD wrote = 0;
    if (!WriteFile(as_handle(handle_), bytes.data() + done, chunk, &wrote, &at)) {
      throw_win32(GetLastError());
    }
    done += wrote;
  }
}

void BinaryFile::close() {
  if (handle_ == -1) return;
  HANDLE h = as_handle(handle_);
  handle_ = -1;
  if (!CloseHandle(h)) throw_win32(GetLastError());
}

}  // namespace platform
