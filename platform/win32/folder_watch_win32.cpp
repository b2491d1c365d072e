// Folder watch on Windows: the folder opened for listing (sharing everything, so that nobody's
// rename or delete waits for it) and one overlapped ReadDirectoryChangesW at a time, for names
// and last writes, completing into a manual-reset event. Between two reads the system keeps
// the changes in the folder handle, so none is lost; one that overflows its buffer completes
// with no records and counts as an arrival.

#include <windows.h>

#include <array>

#include "platform/folder_watch.h"
#include "win32/win32_error.h"

namespace platform {
namespace {

constexpr DWORD kChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE;
// Reads taken in one call at most, so that a folder changing without pause still lets the
// caller go on to its round.
constexpr int kMostReads = 64;

bool is_arrival(DWORD action) {
  return action == FILE_ACTION_ADDED || action == FILE_ACTION_MODIFIED ||
         action == FILE_ACTION_RENAMED_NEW_NAME;
}

}  // namespace

struct FolderWatch::Impl {
  HANDLE folder = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;
  OVERLAPPED overlapped{};
  bool reading = false;  // a read is issued and not yet taken
  bool watching = false;
  alignas(DWORD) std::array<BYTE, 16 * 1024> records{};

  ~Impl() {
    if (reading) {
      CancelIoEx(folder, &overlapped);
      DWORD ignored = 0;
      GetOverlappedResult(folder, &overlapped, &ignored, TRUE);  // the buffer must outlive it
    }
    if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
    if (event) CloseHandle(event);
  }

  // Issues the next read; false when the folder can no longer be watched.
  bool issue() {
    ResetEvent(event);
    overlapped = {};
    overlapped.hEvent = event;
    reading = ReadDirectoryChangesW(folder, records.data(), static_cast<DWORD>(records.size()),
                                    FALSE, kChanges, nullptr, &overlapped, nullptr) != 0;
    return reading;
  }

  bool any_arrival(DWORD bytes) const {
    if (bytes == 0) return true;  // more changes than the buffer holds: some are unknown
    for (DWORD at = 0; at + sizeof(FILE_NOTIFY_INFORMATION) <= bytes;) {
      const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(records.data() + at);
      if (is_arrival(record->Action)) return true;
      if (record->NextEntryOffset == 0) break;
      at += record->NextEntryOffset;
    }
    return false;
  }
};

FolderWatch::FolderWatch(std::u16string_view path) : impl_(std::make_unique<Impl>()) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
    throw AutomationError(errnum::kBadFileName);
  }
  const std::wstring name(path.begin(), path.end());
  impl_->folder = CreateFileW(name.c_str(), FILE_LIST_DIRECTORY,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED,
                              nullptr);
  if (impl_->folder == INVALID_HANDLE_VALUE) throw_win32(GetLastError());
  impl_->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!impl_->event) throw_win32(GetLastError());
  // A file system without change notifications (some network redirectors) refuses the read.
  if (!impl_->issue()) throw_win32(GetLastError());
  impl_->watching = true;
}

FolderWatch::FolderWatch(FolderWatch&&) noexcept = default;
FolderWatch& FolderWatch::operator=(FolderWatch&&) noexcept = default;
FolderWatch::~FolderWatch() = default;

intptr_t FolderWatch::wait_handle() const { return reinterpret_cast<intptr_t>(impl_->event); }

bool FolderWatch::wait(double seconds) const {
  const double ms = seconds > 0 ? seconds * 1000.0 + 0.999 : 0.0;
  const DWORD limit = ms >= static_cast<double>(INFINITE - 1) ? INFINITE - 1
                                                               : static_cast<DWORD>(ms);
  return WaitForSingleObject(impl_->event, limit) == WAIT_OBJECT_0;
}

bool FolderWatch::take_arrivals() {
  Impl& w = *impl_;
  bool arrived = false;
  for (int i = 0; i < kMostReads && w.reading; ++i) {
    DWORD bytes = 0;
    if (GetOverlappedResult(w.folder, &w.overlapped, &bytes, FALSE)) {
      w.reading = false;
      if (w.any_arrival(bytes)) arrived = true;
    } else {
      const DWORD error = GetLastError();
      if (error == ERROR_IO_INCOMPLETE) break;  // nothing more now
      w.reading = false;
      if (error == ERROR_NOTIFY_ENUM_DIR) {
        arrived = true;  // overflowed: look all the same
      } else {
        w.watching = false;  // the folder went away, or its handle was cut off
        ResetEvent(w.event);
        return true;  // whatever is at the folder's name now, a round shows it
      }
    }
    if (!w.issue()) {
      w.watching = false;
      ResetEvent(w.event);
      return true;
    }
  }
  return arrived;
}

bool FolderWatch::watching() const { return impl_->watching; }

}  // namespace platform
