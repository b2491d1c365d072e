// Drop-folder files on Windows: CreateFileW with OPEN_EXISTING (nothing is created) and
// FILE_FLAG_OPEN_REPARSE_POINT (a junction or symbolic link is opened as itself and then
// refused), reading shared with readers only: a file that someone still holds open for writing
// cannot be opened, and while the handle is open nobody can start writing, rename or delete it.
// Before the round's move the handle is reopened sharing deletion too, so that the move can go
// through this very open file while writers are still refused until it is closed.

#include <windows.h>

#include <algorithm>

#include "platform/drop_file.h"
#include "win32/win32_error.h"

namespace platform {
namespace {

HANDLE handle_of(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

constexpr int64_t kUnixEpochIn100ns = 116444736000000000LL;

int64_t filetime_100ns(const FILETIME& t) {
  ULARGE_INTEGER v;
  v.LowPart = t.dwLowDateTime;
  v.HighPart = t.dwHighDateTime;
  return static_cast<int64_t>(v.QuadPart);
}

DropFileFacts facts_of(const BY_HANDLE_FILE_INFORMATION& info) {
  DropFileFacts facts;
  facts.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::folder
                                                                   : EntryKind::file;
  facts.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  const int64_t written = filetime_100ns(info.ftLastWriteTime);
  facts.modified_ns = (written - kUnixEpochIn100ns) * 100;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  facts.age_seconds = static_cast<double>(filetime_100ns(now) - written) / 1e7;
  return facts;
}

}  // namespace

DropFile::DropFile(DropFile&& other) noexcept
    : handle_(other.handle_),
      facts_(other.facts_),
      volume_(other.volume_),
      index_(other.index_),
      leased_(other.leased_),
      ahead_(std::move(other.ahead_)) {
  other.handle_ = -1;
}

DropFile& DropFile::operator=(DropFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    facts_ = other.facts_;
    volume_ = other.volume_;
    index_ = other.index_;
    leased_ = other.leased_;
    ahead_ = std::move(other.ahead_);
    other.handle_ = -1;
  }
  return *this;
}

DropFile::~DropFile() { close(); }

// The open shared no writing: had anyone held the file open for writing, it would have failed.
Writers DropFile::writers() { return handle_ < 0 ? Writers::unknown : Writers::none; }

// A writer can only have come in when a reader opening by name shared writing: the reopen,
// which shares no writing, then fails with a sharing violation. Any other failure keeps the
// handle as it is, and the move then meets it as before.
bool DropFile::hold_for_move() {
  if (handle_ < 0) return true;
  const HANDLE held = ReOpenFile(handle_of(handle_), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_DELETE, 0);
  if (held == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_SHARING_VIOLATION) return false;
    close();  // the move needs the file without this handle's sharing rules
    return true;
  }
  CloseHandle(handle_of(handle_));
  handle_ = reinterpret_cast<intptr_t>(held);
  return true;
}

// Windows rounds open each file only as they come to it (kOpenDropFileBlocksMoves).
void DropFile::read_ahead(std::size_t) {}

std::size_t DropFile::read_at(uint64_t offset, std::span<uint8_t> out) {
  if (handle_ < 0) throw AutomationError(errnum::kBadFileName);
  std::size_t done = 0;
  while (done < out.size()) {
    OVERLAPPED at{};
    const uint64_t position = offset + done;
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(handle_of(handle_), out.data() + done, want, &got, &at)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      throw_win32(error);
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

void DropFile::share_for_open_by_name() {
  if (handle_ < 0) return;
  const HANDLE shared = ReOpenFile(handle_of(handle_), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
  if (shared == INVALID_HANDLE_VALUE) return;  // the reader's own open will then tell
  CloseHandle(handle_of(handle_));
  handle_ = reinterpret_cast<intptr_t>(shared);
}

void DropFile::close() noexcept {
  if (handle_ < 0) return;
  CloseHandle(handle_of(handle_));
  handle_ = -1;
}

struct DropFolder::Impl {
  std::wstring path;
};

DropFolder::DropFolder(std::u16string_view path) : impl_(std::make_unique<Impl>()) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
    throw AutomationError(errnum::kBadFileName);
  }
  impl_->path.assign(path.begin(), path.end());
  const DWORD a = GetFileAttributesW(impl_->path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) throw_win32(GetLastError());
  if (!(a & FILE_ATTRIBUTE_DIRECTORY)) throw AutomationError(errnum::kPathNotFound);
  if (impl_->path.back() != L'\\' && impl_->path.back() != L'/') impl_->path += L'\\';
}

// The confined folder's handle keeps its path from being renamed or replaced meanwhile.
DropFolder::DropFolder(const ConfinedFolder& folder) : impl_(std::make_unique<Impl>()) {
  const std::u16string& path = folder.path();
  impl_->path.assign(path.begin(), path.end());
  if (impl_->path.back() != L'\\' && impl_->path.back() != L'/') impl_->path += L'\\';
}

DropFolder::DropFolder(DropFolder&&) noexcept = default;
DropFolder& DropFolder::operator=(DropFolder&&) noexcept = default;
DropFolder::~DropFolder() = default;

DropOpenResult DropFolder::open(std::u16string_view name) const {
  if (name.empty() || name == u"." || name == u".." ||
      name.find_first_of(std::u16string_view(u"\\/:\0", 4)) != std::u16string_view::npos) {
    throw AutomationError(errnum::kBadFileName);
  }
  const std::wstring path = impl_->path + std::wstring(name.begin(), name.end());
  const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return {DropOpenStatus::gone, std::nullopt};
    }
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
      return {DropOpenStatus::in_use, std::nullopt};
    }
    const DWORD a = GetFileAttributesW(path.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return {DropOpenStatus::link, std::nullopt};
    }
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) {
      return {DropOpenStatus::gone, std::nullopt};  // a folder now: not a file to sort
    }
    throw_win32(error);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info)) {
    const DWORD error = GetLastError();
    CloseHandle(h);
    throw_win32(error);
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    CloseHandle(h);
    return {DropOpenStatus::link, std::nullopt};
  }
  return {DropOpenStatus::opened, DropFile(reinterpret_cast<intptr_t>(h), facts_of(info))};
}

// The open handle shares no deletion until hold_for_move(): nobody could rename, delete or
// replace the file at its name meanwhile.
bool DropFolder::holds(std::u16string_view, const DropFile&) const { return true; }

}  // namespace platform
