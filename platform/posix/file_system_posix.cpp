// File-system services on POSIX. Names are UTF-8 on disk; letter case counts, so lookups that
// must ignore it scan the folder.

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/confined_folder.h"
#include "platform/file_system.h"
#include "platform/utf.h"
#include "posix/errno_error.h"
#include "posix/fd_util.h"
#include "posix/safe_open.h"

namespace platform {
namespace {

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.empty() ? "/" : path.c_str(), &st) == 0;
}

std::string native(std::u16string_view path) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
    throw AutomationError(errnum::kBadFileName);
  }
  return to_utf8(path);
}

// The entry of folder whose name matches name when case is ignored.
std::optional<std::string> find_ignoring_case(const std::string& folder, const std::string& name) {
  DIR* dir = ::opendir(folder.empty() ? "/" : folder.c_str());
  if (dir == nullptr) return std::nullopt;
  const std::u16string wanted = fold_case(from_utf8(name));
  std::optional<std::string> found;
  while (const dirent* e = ::readdir(dir)) {
    if (fold_case(from_utf8(e->d_name)) == wanted) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

}  // namespace

char16_t path_separator() { return u'/'; }

bool file_names_ignore_case() { return false; }

EntryKind entry_kind(std::u16string_view path) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) return EntryKind::none;
  struct stat st {};
  if (::stat(to_utf8(path).c_str(), &st) != 0) return EntryKind::none;
  return entry_kind_of(st.st_mode);
}

void create_folder(std::u16string_view path) {
  const std::string p = native(path);
  if (::mkdir(p.c_str(), 0777) != 0) {
    if (errno == EEXIST) throw AutomationError(errnum::kFileExists);
    throw_errno(errno);
  }
}

void move_file_no_replace(std::u16string_view source, std::u16string_view target) {
  const std::string from = native(source);
  const std::string to = native(target);
  const auto split = [](const std::string& p) {
    const auto slash = p.find_last_of('/');
    if (slash == std::string::npos) return std::pair<std::string, std::string>(".", p);
    return std::pair<std::string, std::string>(slash == 0 ? "/" : p.substr(0, slash),
                                               p.substr(slash + 1));
  };
  const auto [from_folder, from_name] = split(from);
  const auto [to_folder, to_name] = split(to);
  const ConfinedFolder source_folder = ConfinedFolder::open(from_utf8(from_folder));
  const ConfinedFolder target_folder = ConfinedFolder::open(from_utf8(to_folder));
  source_folder.move_file(from_utf8(from_name), target_folder, from_utf8(to_name));
}

void delete_file_forced(std::u16string_view path) {
  const std::string p = native(path);
  // Removing a name needs no write permission on the file itself: read-only files go too.
  if (::unlink(p.c_str()) != 0) {
    if (errno == ENOENT) throw_missing(p);
    throw_errno(errno);
  }
}

std::optional<double> seconds_since_last_write(std::u16string_view path) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) return std::nullopt;
  struct stat st {};
  if (::stat(to_utf8(path).c_str(), &st) != 0) return std::nullopt;
  return seconds_since(st.st_mtim);
}

void append_to_file(std::u16string_view path, std::string_view bytes) {
  const std::string p = native(path);
  Fd fd(open_regular_file(AT_FDCWD, p.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666));
  if (fd.fd < 0 && errno == ELOOP) {
    throw AutomationError(errnum::kPathFileAccess, std::u16string(kLinkRefusedText));
  }
  if (fd.fd < 0) throw_errno(errno);
  write_all(fd.fd, bytes.data(), bytes.size());
  const int f = fd.fd;
  fd.fd = -1;
  if (::close(f) != 0 && errno != EINTR) throw_errno(errno);
}

std::u16string resolve_ignoring_case(std::u16string_view path) {
  if (path.empty() || path.front() != u'/' || path.find(u'\0') != std::u16string_view::npos) {
    return std::u16string(path);  // only absolute paths are resolved
  }
  const std::string full = to_utf8(path);
  if (exists(full)) return std::u16string(path);
  // Find the longest prefix that exists as given, then match the rest component by component.
  std::vector<std::string> rest;
  std::string base = full;
  while (!base.empty() && !exists(base)) {
    const auto slash = base.find_last_of('/');
    rest.push_back(base.substr(slash + 1));
    base.resize(slash);
  }
  bool matching = true;
  for (auto it = rest.rbegin(); it != rest.rend(); ++it) {
    std::string part = *it;
    if (matching && !part.empty() && part != "." && part != "..") {
      if (const auto found = find_ignoring_case(base, part)) {
        part = *found;
      } else {
        matching = false;  // nothing below a missing folder can exist
      }
    }
    base += '/';
    base += part;
  }
  return from_utf8(base);
}

struct FolderReader::Impl {
  DIR* dir = nullptr;
  std::string folder;
  ~Impl() {
    if (dir != nullptr) ::closedir(dir);
  }
};

FolderReader::FolderReader(std::u16string_view folder) : impl_(std::make_unique<Impl>()) {
  impl_->folder = native(folder);
  impl_->dir = ::opendir(impl_->folder.c_str());
  if (impl_->dir == nullptr) throw_errno(errno);
}

FolderReader::FolderReader(FolderReader&&) noexcept = default;
FolderReader& FolderReader::operator=(FolderReader&&) noexcept = default;
FolderReader::~FolderReader() = default;

std::optional<FolderReader::Entry> FolderReader::next() {
  for (;;) {
    errno = 0;
    const dirent* e = ::readdir(impl_->dir);
    if (e == nullptr) {
      if (errno != 0) throw_errno(errno);
      return std::nullopt;
    }
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    EntryKind kind = EntryKind::other;
    unsigned char type = e->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st {};
      if (::fstatat(::dirfd(impl_->dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      type = S_ISREG(st.st_mode) ? DT_REG : S_ISDIR(st.st_mode) ? DT_DIR : DT_UNKNOWN;
    }
    if (type == DT_REG) kind = EntryKind::file;
    if (type == DT_DIR) kind = EntryKind::folder;
    return Entry{from_utf8(name), kind};
  }
}

}  // namespace platform
