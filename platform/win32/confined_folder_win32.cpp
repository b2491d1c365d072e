// Confined folder access on Windows. The file system ignores letter case itself. Each folder
// handle is held without delete sharing, so the folder can be neither renamed nor replaced
// while it is in use, and every folder and file below it is opened with
// FILE_FLAG_OPEN_REPARSE_POINT and refused when its attributes show a reparse point (a
// symbolic link or a junction).

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/confined_folder.h"
#include "win32/inherited_acl_win32.h"
#include "win32/removal_handle_win32.h"
#include "win32/win32_error.h"

namespace platform {

struct ConfinedFolder::Impl {
  HANDLE h = INVALID_HANDLE_VALUE;
  std::u16string path;
  // The name folder() found it by in its parent (empty for a folder opened by its path).
  std::u16string found_as;
  // Volume serial number and file index, from the handle at the first question.
  mutable std::optional<FolderIdentity> identity;
  // Whether a clean-up has put back the claims of moves out of this folder (remove_leftovers).
  bool claims_put_back = false;
  ~Impl() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

namespace {

std::wstring wide(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }

[[noreturn]] void throw_link() {
  throw AutomationError(errnum::kPathFileAccess, std::u16string(kLinkRefusedText));
}

void check_component(std::u16string_view name) {
  if (name.empty() || name == u"." || name == u".." ||
      name.find_first_of(u"\\/:*?\0", 0, 6) != std::u16string_view::npos) {
    throw AutomationError(errnum::kBadFileName);
  }
}

struct Handle {
  HANDLE h = INVALID_HANDLE_VALUE;
  explicit Handle(HANDLE handle) : h(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  HANDLE release() {
    HANDLE r = h;
    h = INVALID_HANDLE_VALUE;
    return r;
  }
};

HANDLE open_folder_handle(const std::wstring& path, bool follow_links) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
}

DWORD attributes_of(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info)) throw_win32(GetLastError());
  return info.dwFileAttributes;
}

FolderIdentity identity_of(const BY_HANDLE_FILE_INFORMATION& info) {
  return FolderIdentity{info.dwVolumeSerialNumber,
                        (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

std::wstring temporary_name() {
  static std::atomic<unsigned> counter{0};
  wchar_t buffer[64];
  std::swprintf(buffer, 64, L"%lx-%x-%lx", GetCurrentProcessId(), counter.fetch_add(1),
                GetTickCount());
  return wide(kTemporaryPrefix) + buffer;
}

bool same_content(HANDLE a, HANDLE b) {
  LARGE_INTEGER sa{}, sb{};
  if (!GetFileSizeEx(a, &sa) || !GetFileSizeEx(b, &sb) || sa.QuadPart != sb.QuadPart) return false;
  std::vector<char> x(1 << 16), y(1 << 16);
  for (;;) {
    DWORD na = 0, nb = 0;
    if (!ReadFile(a, x.data(), static_cast<DWORD>(x.size()), &na, nullptr) ||
        !ReadFile(b, y.data(), na, &nb, nullptr) || na != nb ||
        std::memcmp(x.data(), y.data(), na) != 0) {
      return false;
    }
    if (na == 0) return true;
  }
}

// Claims: a mover on POSIX renames the source of a move by copy within its folder first, to the
// temporary prefix, "claim-", 16 hexadecimal digits, "-" and the file's name. A claim left by an
// interrupted move holds the only copy of its file: it is put back under that name, never
// deleted. The name it was taken from, or none when entry is no claim:
std::optional<std::wstring> claimed_name(const std::wstring& entry) {
  const std::wstring head = wide(kTemporaryPrefix) + L"claim-";
  const std::size_t dash = head.size() + 16;
  if (entry.compare(0, head.size(), head) != 0 || entry.size() <= dash + 1 || entry[dash] != L'-') {
    return std::nullopt;
  }
  return entry.substr(dash + 1);
}

// Puts back every claim in folder under its name, never replacing; a claim whose name is taken
// stays. Returns how many claims were found.
int put_back_claims(const ConfinedFolder& folder) {
  WIN32_FIND_DATAW data{};
  const std::wstring pattern =
      wide(folder.child_path(std::u16string(kTemporaryPrefix) + u"claim-*"));
  HANDLE f = FindFirstFileW(pattern.c_str(), &data);
  if (f == INVALID_HANDLE_VALUE) return 0;
  std::vector<std::wstring> claims;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && claimed_name(data.cFileName)) {
      claims.emplace_back(data.cFileName);
    }
  } while (FindNextFileW(f, &data));
  FindClose(f);
  const std::wstring folder_path = wide(folder.child_path(u""));
  for (const auto& claim : claims) {
    MoveFileExW((folder_path + claim).c_str(), (folder_path + *claimed_name(claim)).c_str(), 0);
  }
  return static_cast<int>(claims.size());
}

}  // namespace

bool is_temporary_name(std::u16string_view name) {
  return name.substr(0, kTemporaryPrefix.size()) == kTemporaryPrefix;
}

ConfinedFolder::ConfinedFolder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ConfinedFolder::ConfinedFolder(ConfinedFolder&&) noexcept = default;
ConfinedFolder& ConfinedFolder::operator=(ConfinedFolder&&) noexcept = default;
ConfinedFolder::~ConfinedFolder() = default;

ConfinedFolder ConfinedFolder::open(std::u16string_view path) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
    throw AutomationError(errnum::kBadFileName);
  }
  Handle h(open_folder_handle(wide(path), true));
  if (h.h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    throw_win32(error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error);
  }
  if (!(attributes_of(h.h) & FILE_ATTRIBUTE_DIRECTORY)) throw AutomationError(errnum::kPathNotFound);
  auto impl = std::make_unique<Impl>();
  impl->h = h.release();
  impl->path = std::u16string(path);
  while (impl->path.size() > 3 && impl->path.back() == u'\\') impl->path.pop_back();
  return ConfinedFolder(std::move(impl));
}

const std::u16string& ConfinedFolder::path() const { return impl_->path; }

std::u16string ConfinedFolder::child_path(std::u16string_view name) const {
  std::u16string p = impl_->path;
  if (p.empty() || p.back() != u'\\') p += u'\\';
  p += name;
  return p;
}

intptr_t ConfinedFolder::native_handle() const { return reinterpret_cast<intptr_t>(impl_->h); }

std::optional<ConfinedFolder::Entry> ConfinedFolder::find(std::u16string_view name) const {
  check_component(name);
  WIN32_FIND_DATAW data{};
  HANDLE f = FindFirstFileExW(wide(child_path(name)).c_str(), FindExInfoBasic, &data,
                              FindExSearchNameMatch, nullptr, 0);
  if (f == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // No more files: the name went while the folder was searched (another mover took it).
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        error == ERROR_NO_MORE_FILES) {
      return std::nullopt;
    }
    throw_win32(error);
  }
  FindClose(f);
  EntryKind kind = EntryKind::file;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    kind = EntryKind::link;
  } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    kind = EntryKind::folder;
  }
  return Entry{std::u16string(data.cFileName, data.cFileName + wcslen(data.cFileName)), kind};
}

ConfinedFolder ConfinedFolder::folder(std::u16string_view name) const {
  const auto entry = find(name);
  if (!entry) throw AutomationError(errnum::kPathNotFound);
  if (entry->kind == EntryKind::link) throw_link();
  if (entry->kind != EntryKind::folder) throw AutomationError(errnum::kPathFileAccess);
  const std::u16string path = child_path(entry->name);
  Handle h(open_folder_handle(wide(path), false));
  if (h.h == INVALID_HANDLE_VALUE) throw_win32(GetLastError());
  const DWORD a = attributes_of(h.h);
  if (a & FILE_ATTRIBUTE_REPARSE_POINT) throw_link();  // swapped since the lookup
  if (!(a & FILE_ATTRIBUTE_DIRECTORY)) throw AutomationError(errnum::kPathFileAccess);
  auto impl = std::make_unique<Impl>();
  impl->h = h.release();
  impl->path = path;
  impl->found_as = entry->name;
  return ConfinedFolder(std::move(impl));
}

FolderIdentity ConfinedFolder::identity() const {
  if (!impl_->identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(impl_->h, &info)) throw_win32(GetLastError());
    impl_->identity = identity_of(info);
  }
  return *impl_->identity;
}

bool ConfinedFolder::still_in(const ConfinedFolder& parent, std::u16string_view name) const noexcept {
  if (impl_->found_as.empty()) return false;
  try {
    const auto entry = parent.find(name);
    if (!entry || entry->kind != EntryKind::folder || entry->name != impl_->found_as) return false;
    Handle h(open_folder_handle(wide(parent.child_path(entry->name)), false));
    BY_HANDLE_FILE_INFORMATION info{};
    if (h.h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h.h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return false;
    }
    const FolderIdentity id = identity_of(info);
    return id.file != 0 && identity() == id;  // 0: the file system numbers no folders
  } catch (...) {
    return false;
  }
}

bool ConfinedFolder::holds_folder_in_place() noexcept { return true; }

bool ConfinedFolder::removes_files_held_open() noexcept { return false; }

BinaryFile ConfinedFolder::open_file(std::u16string_view name) const {
  const auto entry = find(name);
  if (entry && entry->kind == EntryKind::link) throw_link();
  if (entry && entry->kind == EntryKind::folder) throw AutomationError(errnum::kPathFileAccess);
  const std::wstring path = wide(child_path(entry ? entry->name : std::u16string(name)));
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         OPEN_ALWAYS, flags, nullptr);
  bool writable = true;
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags,
                    nullptr);
    writable = false;
    if (h == INVALID_HANDLE_VALUE) throw_win32(ERROR_ACCESS_DENIED);
  }
  if (h == INVALID_HANDLE_VALUE) throw_win32(GetLastError());
  Handle owned(h);
  const DWORD a = attributes_of(h);
  if (a & FILE_ATTRIBUTE_REPARSE_POINT) throw_link();
  if (a & FILE_ATTRIBUTE_DIRECTORY) throw AutomationError(errnum::kPathFileAccess);
  return BinaryFile(reinterpret_cast<intptr_t>(owned.release()), writable);
}

void ConfinedFolder::delete_file(std::u16string_view name) const {
  check_component(name);
  delete_file_forced(child_path(name));  // a symbolic link is removed, not what it names
}

namespace {

// The source of a move by copy, opened once (a link as itself): its kind is checked, the copy
// is read from it and the file deleted through it. It is held without write or delete sharing,
// so while the copy is made nobody can change, rename, replace or delete the file, and of two
// movers only one copies it. A file another mover holds, or whose deletion is pending, is
// waited for briefly: it is usually gone then.
Handle open_move_source(const std::wstring& path) {
  Handle source(open_when_free(path, GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ,
                               FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN));
  if (source.h == INVALID_HANDLE_VALUE) throw_win32(GetLastError());
  const DWORD a = attributes_of(source.h);
  if (a & FILE_ATTRIBUTE_REPARSE_POINT) throw_link();  // swapped since the lookup
  if (a & FILE_ATTRIBUTE_DIRECTORY) throw AutomationError(errnum::kPathFileAccess);
  return Handle(source.release());
}

bool set_delete_disposition(HANDLE h) {
  FILE_DISPOSITION_INFO info{};
  info.DeleteFile = TRUE;
  return SetFileInformationByHandle(h, FileDispositionInfo, &info, sizeof info) != 0;
}

// Deletes the file behind h when h is closed, a read-only one too; throws on failure.
void delete_on_close(HANDLE h) {
  if (set_delete_disposition(h)) return;
  const DWORD error = GetLastError();
  FILE_BASIC_INFO basic{};
  if (error != ERROR_ACCESS_DENIED ||
      !GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) ||
      !(basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
    throw_win32(error);
  }
  FILE_BASIC_INFO writable{};  // times left as they are
  writable.FileAttributes = basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
  if (writable.FileAttributes == 0) writable.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (SetFileInformationByHandle(h, FileBasicInfo, &writable, sizeof writable) &&
      set_delete_disposition(h)) {
    return;
  }
  const DWORD again = GetLastError();
  FILE_BASIC_INFO before{};
  before.FileAttributes = basic.FileAttributes;
  SetFileInformationByHandle(h, FileBasicInfo, &before, sizeof before);
  throw_win32(again);
}

// Copies everything from in to out, then gives out in's time of last write (as the system's
// copy does).
void copy_contents(HANDLE in, HANDLE out) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      throw_win32(GetLastError());
    }
    if (got == 0) break;
    for (DWORD done = 0; done < got;) {
      DWORD put = 0;
      if (!WriteFile(out, buffer.data() + done, got - done, &put, nullptr)) {
        throw_win32(GetLastError());
      }
      done += put;
    }
  }
  FILETIME written{};
  if (!GetFileTime(in, nullptr, nullptr, &written) ||
      !SetFileTime(out, nullptr, nullptr, &written)) {
    throw_win32(GetLastError());
  }
}

// The crash-safe move across volumes: a temporary copy in the target folder, made from the
// source's own handle and flushed, linked to its final name (never replacing), then the source
// removed through its handle, then the temporary name.
void move_by_copy(const std::wstring& source, const ConfinedFolder& target,
                  const std::wstring& final_path) {
  Handle in = open_move_source(source);
  std::wstring temp;
  try {
    {
      Handle out(INVALID_HANDLE_VALUE);
      for (int attempt = 0; attempt < 100 && out.h == INVALID_HANDLE_VALUE; ++attempt) {
        temp = wide(target.child_path(u"")) + temporary_name();
        out.h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (out.h != INVALID_HANDLE_VALUE) break;
        const DWORD error = GetLastError();
        temp.clear();  // not ours
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) throw_win32(error);
      }
      if (out.h == INVALID_HANDLE_VALUE) throw AutomationError(errnum::kFileExists);
      copy_contents(in.h, out.h);
      if (!FlushFileBuffers(out.h)) throw_win32(GetLastError());
    }
    if (!CreateHardLinkW(final_path.c_str(), temp.c_str(), nullptr)) {
      const DWORD error = GetLastError();
      if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
        throw AutomationError(errnum::kFileExists);
      }
      // No hard links on this volume: a move that never replaces.
      if (!MoveFileExW(temp.c_str(), final_path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD move_error = GetLastError();
        if (move_error == ERROR_ALREADY_EXISTS || move_error == ERROR_FILE_EXISTS) {
          throw AutomationError(errnum::kFileExists);
        }
        throw_win32(move_error);
      }
      temp.clear();
    }
  } catch (...) {
    if (!temp.empty()) DeleteFileW(temp.c_str());
    throw;
  }
  try {
    delete_on_close(in.h);
  } catch (...) {
    DeleteFileW(final_path.c_str());  // keep exactly one copy: the source stays
    if (!temp.empty()) DeleteFileW(temp.c_str());
    throw;
  }
  CloseHandle(in.release());  // the source goes now
  if (!temp.empty()) DeleteFileW(temp.c_str());
}

}  // namespace

void ConfinedFolder::move_file(std::u16string_view name, const ConfinedFolder& target,
                               std::u16string_view target_name, MoveMethod method,
                               FileIdentity /*expected*/) const {
  // Windows keeps no identity of drop files: a drop file's handle shares no deletion until
  // right before its move, and the move renames through a handle of its own.
  check_component(name);
  check_component(target_name);
  if (is_temporary_name(target_name)) throw AutomationError(errnum::kBadFileName);
  if (target.find(target_name)) throw AutomationError(errnum::kFileExists);
  const auto source = find(name);
  if (!source) throw AutomationError(errnum::kFileNotFound);
  const std::wstring from = wide(child_path(source->name));
  const std::wstring to = wide(target.child_path(target_name));
  if (method == MoveMethod::copy || method == MoveMethod::copy_checked_rename) {
    // The final step never replaces here: a link, else a move without replacing.
    if (source->kind != EntryKind::file) throw AutomationError(errnum::kPathFileAccess);
    move_by_copy(from, target, to);
    return;
  }
  // Renamed through a handle held without delete sharing, never replacing: of two callers
  // moving one file only one succeeds, the other then finds it gone. MoveMethod::link needs no
  // path of its own here.
  RemovalHandle moving = RemovalHandle::open(from, true);
  const DWORD error = moving.rename_to(to);
  if (error == ERROR_SUCCESS) {
    // A rename keeps the security descriptor the file got in its old folder: it takes its new
    // folder's inheritance now, while the held handle keeps anyone from renaming or replacing
    // it. The move is done either way; a file the mover may not change the DACL of, or one on
    // a file system without ACLs, stays delivered with the entries it had.
    if (source->kind == EntryKind::file) inherit_from_parent(to);
    return;
  }
  moving.close();  // a move by copy opens the file again
  if (error == ERROR_NOT_SAME_DEVICE && source->kind == EntryKind::file) {
    move_by_copy(from, target, to);
    return;
  }
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
    throw AutomationError(errnum::kFileExists);
  }
  throw_win32(error);
}

int ConfinedFolder::remove_leftovers(const ConfinedFolder* source_folder,
                                     SourceClaims source_claims) const {
  // Claimed sources first, so that a move whose copy already holds its final name finds its
  // source under that name below; the source folder's once per handle.
  int found = 0;
  if (source_folder != nullptr && source_claims == SourceClaims::put_back &&
      !source_folder->impl_->claims_put_back) {
    found += put_back_claims(*source_folder);
    source_folder->impl_->claims_put_back = true;
  }
  found += put_back_claims(*this);
  std::vector<std::wstring> temps;
  WIN32_FIND_DATAW data{};
  HANDLE f = FindFirstFileW(wide(child_path(std::u16string(kTemporaryPrefix) + u"*")).c_str(), &data);
  if (f == INVALID_HANDLE_VALUE) return found;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !claimed_name(data.cFileName)) {
      temps.emplace_back(data.cFileName);
    }
  } while (FindNextFileW(f, &data));
  FindClose(f);
  const auto open_read = [](const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  };
  for (const auto& temp : temps) {
    const std::wstring temp_path = wide(child_path(u"")) + temp;
    BY_HANDLE_FILE_INFORMATION info{};
    bool linked = false;
    {
      Handle h(open_read(temp_path));
      linked = h.h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h.h, &info) &&
               info.nNumberOfLinks > 1 && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    }
    if (linked && source_folder != nullptr) {
      // The copy holds its final name: find that name, then the source it came from.
      HANDLE all = FindFirstFileW(wide(child_path(u"*")).c_str(), &data);
      while (all != INVALID_HANDLE_VALUE) {
        const std::u16string n(data.cFileName, data.cFileName + wcslen(data.cFileName));
        if (!is_temporary_name(n) && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
          Handle candidate(open_read(wide(child_path(n))));
          BY_HANDLE_FILE_INFORMATION ci{};
          if (candidate.h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(candidate.h, &ci) &&
              ci.nFileIndexHigh == info.nFileIndexHigh && ci.nFileIndexLow == info.nFileIndexLow &&
              ci.dwVolumeSerialNumber == info.dwVolumeSerialNumber) {
            const std::wstring source = wide(source_folder->child_path(n));
            bool same = false;
            {
              Handle s(open_read(source));
              same = s.h != INVALID_HANDLE_VALUE && same_content(candidate.h, s.h);
            }
            if (same) {
              try {
                delete_file_forced(std::u16string(source.begin(), source.end()));
              } catch (const AutomationError&) {
              }
            }
            break;
          }
        }
        if (!FindNextFileW(all, &data)) break;
      }
      if (all != INVALID_HANDLE_VALUE) FindClose(all);
    }
    DeleteFileW(temp_path.c_str());
  }
  return found + static_cast<int>(temps.size());
}

}  // namespace platform
