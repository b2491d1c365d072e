// Confined folder access on POSIX: every name is one component resolved beneath the folder's
// descriptor, with openat2(RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS) where the kernel has it and
// openat(O_NOFOLLOW) elsewhere, files through open_regular_file (safe_open.h), so that no
// FIFO or device blocks an open; lookups that ignore letter case ask the folder's case index
// (case_index.h), which follows the names others add, and read the folder only on a hit.

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "platform/confined_folder.h"
#include "platform/utf.h"
#include "posix/case_index.h"
#include "posix/errno_error.h"
#include "posix/fd_util.h"
#include "posix/safe_open.h"
#include "posix/temporary_name.h"

namespace platform {

struct ConfinedFolder::Impl {
  int fd = -1;
  std::u16string path;
  // The folder's names in any letter case, made at the first lookup that misses the exact
  // spelling and kept current from then on (see case_index.h).
  mutable std::unique_ptr<CaseIndex> index;
  ~Impl() {
    index.reset();  // unwatches the folder while fd still names it
    if (fd >= 0) ::close(fd);
  }
  // Whether the folder may hold name in some letter case (false: certainly not).
  bool may_hold(const std::string& name) const {
    if (!index) index = std::make_unique<CaseIndex>(fd);
    return index->may_hold(folded_name_hash(name));
  }
};

namespace {

[[noreturn]] void throw_link() {
  throw AutomationError(errnum::kPathFileAccess, std::u16string(kLinkRefusedText));
}

std::string component(std::u16string_view name) {
  if (name.empty() || name == u"." || name == u".." ||
      name.find_first_of(u"/\0", 0, 2) != std::u16string_view::npos) {
    throw AutomationError(errnum::kBadFileName);
  }
  return to_utf8(name);
}

bool same_content(int a, int b) {
  struct stat sa {}, sb {};
  if (::fstat(a, &sa) != 0 || ::fstat(b, &sb) != 0 || sa.st_size != sb.st_size) return false;
  std::vector<char> x(1 << 16), y(1 << 16);
  for (off_t at = 0; at < sa.st_size;) {
    const ssize_t n = ::pread(a, x.data(), x.size(), at);
    if (n <= 0 || ::pread(b, y.data(), static_cast<size_t>(n), at) != n ||
        std::memcmp(x.data(), y.data(), static_cast<size_t>(n)) != 0) {
      return false;
    }
    at += n;
  }
  return true;
}

// The first entry of the folder behind dir whose name folds like name, by reading the folder.
std::optional<ConfinedFolder::Entry> find_folded(int dir, std::u16string_view name) {
  const std::u16string wanted = fold_case(name);
  std::optional<ConfinedFolder::Entry> found;
  for_each_entry(dir, [&](const std::string& e) {
    struct stat st {};
    if (!found && fold_case(from_utf8(e)) == wanted &&
        ::fstatat(dir, e.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      found = ConfinedFolder::Entry{from_utf8(e), entry_kind_of(st.st_mode)};
    }
  });
  return found;
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
  auto impl = std::make_unique<Impl>();
  impl->path = std::u16string(path);
  impl->fd = ::open(to_utf8(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (impl->fd < 0) throw_errno(errno == ENOTDIR ? ENOENT : errno);
  return ConfinedFolder(std::move(impl));
}

const std::u16string& ConfinedFolder::path() const { return impl_->path; }

std::u16string ConfinedFolder::child_path(std::u16string_view name) const {
  std::u16string p = impl_->path;
  p += path_separator();
  p += name;
  return p;
}

intptr_t ConfinedFolder::native_handle() const { return impl_->fd; }

std::optional<ConfinedFolder::Entry> ConfinedFolder::find(std::u16string_view name) const {
  const std::string n = component(name);
  struct stat st {};
  if (::fstatat(impl_->fd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    return Entry{std::u16string(name), entry_kind_of(st.st_mode)};
  }
  if (errno != ENOENT) throw_errno(errno);
  if (!impl_->may_hold(n)) return std::nullopt;
  return find_folded(impl_->fd, name);
}

ConfinedFolder ConfinedFolder::folder(std::u16string_view name) const {
  const auto entry = find(name);
  if (!entry) throw AutomationError(errnum::kPathNotFound);
  if (entry->kind == EntryKind::link) throw_link();
  if (entry->kind != EntryKind::folder) throw AutomationError(errnum::kPathFileAccess);
  auto impl = std::make_unique<Impl>();
  impl->fd = open_beneath(impl_->fd, to_utf8(entry->name).c_str(), O_RDONLY | O_DIRECTORY);
  if (impl->fd < 0) {
    if (errno == ELOOP || errno == EXDEV) throw_link();
    throw_errno(errno == ENOTDIR ? ENOENT : errno);
  }
  impl->path = child_path(entry->name);
  return ConfinedFolder(std::move(impl));
}

BinaryFile ConfinedFolder::open_file(std::u16string_view name) const {
  const auto entry = find(name);
  if (entry && entry->kind == EntryKind::link) throw_link();
  if (entry && entry->kind == EntryKind::folder) throw AutomationError(errnum::kPathFileAccess);
  const std::string n = to_utf8(entry ? entry->name : std::u16string(name));
  bool writable = true;
  int fd = open_regular_file(impl_->fd, n.c_str(), O_RDWR | O_CREAT, 0666);
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    const int open_error = errno;  // an existing file that may only be read
    fd = open_regular_file(impl_->fd, n.c_str(), O_RDONLY);
    writable = false;
    if (fd < 0) throw_errno(open_error);
  }
  if (fd < 0) {
    if (errno == ELOOP || errno == EXDEV) throw_link();
    if (errno == ENXIO) throw AutomationError(errnum::kPathFileAccess);  // not a regular file
    throw_errno(errno);
  }
  return BinaryFile(fd, writable);
}

void ConfinedFolder::delete_file(std::u16string_view name) const {
  const std::string n = component(name);
  // Removing a name needs no write permission on the file itself: read-only files go too.
  if (::unlinkat(impl_->fd, n.c_str(), 0) != 0) {
    if (errno == ENOENT) throw AutomationError(errnum::kFileNotFound);
    throw_errno(errno);
  }
}

namespace {

// The crash-safe move across file systems: a temporary copy in the target folder, flushed,
// linked to its final name (never replacing), then the source removed, then the temporary
// name. Whatever step a crash interrupts, the e-mail exists whole under its name in one of
// the two folders, and remove_leftovers() can tell what was done.
void move_by_copy(int from_dir, const std::string& name, int to_dir, const std::string& target) {
  Fd in(open_regular_file(from_dir, name.c_str(), O_RDONLY));
  if (in.fd < 0) {
    if (errno == ENOENT) throw AutomationError(errnum::kFileNotFound);
    if (errno == ELOOP || errno == EXDEV) throw_link();
    if (errno == ENXIO) throw AutomationError(errnum::kPathFileAccess);  // not a regular file
    throw_errno(errno);
  }
  struct stat st {};
  if (::fstat(in.fd, &st) != 0) throw_errno(errno);
  std::string temp;
  Fd out;
  for (int attempt = 0; attempt < 100 && out.fd < 0; ++attempt) {
    temp = temporary_name();
    out.fd = open_regular_file(to_dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL,
                               st.st_mode & 0777);
    if (out.fd < 0 && errno != EEXIST) throw_errno(errno);
  }
  if (out.fd < 0) throw AutomationError(errnum::kFileExists);
  try {
    copy_contents(in.fd, out.fd);
    if (::fsync(out.fd) != 0 && errno != EINVAL) throw_errno(errno);
    out.close_checked();
    if (::linkat(to_dir, temp.c_str(), to_dir, target.c_str(), 0) != 0) {
      const int error = errno;
      if (error == EEXIST) throw AutomationError(errnum::kFileExists);
      if (error != EPERM && error != EOPNOTSUPP && error != EMLINK) throw_errno(error);
      // No hard links on the target: a rename that does not replace, else one that checks
      // first (the only step here that another writer could race).
      if (::renameat2(to_dir, temp.c_str(), to_dir, target.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST) throw AutomationError(errnum::kFileExists);
        if (errno != EINVAL && errno != ENOSYS) throw_errno(errno);
        struct stat taken {};
        if (::fstatat(to_dir, target.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0) {
          throw AutomationError(errnum::kFileExists);
        }
        if (::renameat(to_dir, temp.c_str(), to_dir, target.c_str()) != 0) throw_errno(errno);
      }
      temp.clear();  // the temporary name is the final name now
    }
    ::fsync(to_dir);
  } catch (...) {
    if (!temp.empty()) ::unlinkat(to_dir, temp.c_str(), 0);
    throw;
  }
  if (::unlinkat(from_dir, name.c_str(), 0) != 0) {
    const int error = errno;
    // Keep exactly one copy: the source stays, the copy goes.
    ::unlinkat(to_dir, target.c_str(), 0);
    if (!temp.empty()) ::unlinkat(to_dir, temp.c_str(), 0);
    if (error == ENOENT) throw AutomationError(errnum::kFileNotFound);
    throw_errno(error);
  }
  if (!temp.empty()) ::unlinkat(to_dir, temp.c_str(), 0);
}

}  // namespace

void ConfinedFolder::move_file(std::u16string_view name, const ConfinedFolder& target,
                               std::u16string_view target_name, MoveMethod method) const {
  const std::string from = component(name);
  const std::string to = component(target_name);
  if (is_temporary_name(target_name)) throw AutomationError(errnum::kBadFileName);
  // The same name is refused by the move itself (it never replaces); another letter case is
  // looked up in the target's index, and a hit confirmed by reading the folder.
  if (target.impl_->may_hold(to) && find_folded(target.impl_->fd, target_name)) {
    throw AutomationError(errnum::kFileExists);
  }
  const int from_dir = impl_->fd;
  const int to_dir = target.impl_->fd;
  if (method == MoveMethod::copy) {
    move_by_copy(from_dir, from, to_dir, to);
  } else if (method == MoveMethod::link ||
             ::renameat2(from_dir, from.c_str(), to_dir, to.c_str(), RENAME_NOREPLACE) != 0) {
    const int error = method == MoveMethod::link ? EINVAL : errno;
    if (error == EEXIST) throw AutomationError(errnum::kFileExists);
    if (error == ENOENT) throw AutomationError(errnum::kFileNotFound);
    if (error == EXDEV) {
      move_by_copy(from_dir, from, to_dir, to);
    } else if (error == EINVAL || error == ENOSYS) {  // no RENAME_NOREPLACE here
      if (::linkat(from_dir, from.c_str(), to_dir, to.c_str(), 0) == 0) {
        if (::unlinkat(from_dir, from.c_str(), 0) != 0) {
          const int unlink_error = errno;
          ::unlinkat(to_dir, to.c_str(), 0);
          throw_errno(unlink_error);
        }
      } else if (errno == EEXIST) {
        throw AutomationError(errnum::kFileExists);
      } else if (errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK || errno == EXDEV) {
        move_by_copy(from_dir, from, to_dir, to);
      } else if (errno == ENOENT) {
        throw AutomationError(errnum::kFileNotFound);
      } else {
        throw_errno(errno);
      }
    } else {
      throw_errno(error);
    }
  }
}

int ConfinedFolder::remove_leftovers(const ConfinedFolder* source_folder) const {
  const std::string prefix = to_utf8(kTemporaryPrefix);
  std::vector<std::string> temps;
  std::unordered_map<ino_t, std::string> finals;  // inode -> a non-temporary name
  for_each_entry(impl_->fd, [&](const std::string& n) {
    if (n.compare(0, prefix.size(), prefix) == 0) temps.push_back(n);
  });
  if (temps.empty()) return 0;
  const int dir = impl_->fd;
  for_each_entry(dir, [&](const std::string& n) {
    struct stat st {};
    if (n.compare(0, prefix.size(), prefix) != 0 &&
        ::fstatat(dir, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        st.st_nlink > 1) {
      finals.emplace(st.st_ino, n);
    }
  });
  for (const auto& temp : temps) {
    struct stat st {};
    if (::fstatat(dir, temp.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const auto final_name = finals.find(st.st_ino);
    if (S_ISREG(st.st_mode) && final_name != finals.end() && source_folder != nullptr) {
      // The copy holds its final name: the move only lacks the removal of its source.
      const int src_dir = source_folder->impl_->fd;
      Fd copy(open_regular_file(dir, temp.c_str(), O_RDONLY));
      Fd source(open_regular_file(src_dir, final_name->second.c_str(), O_RDONLY));
      struct stat sst {};
      if (copy.fd >= 0 && source.fd >= 0 && ::fstat(source.fd, &sst) == 0 &&
          !(sst.st_dev == st.st_dev && sst.st_ino == st.st_ino) &&
          same_content(copy.fd, source.fd)) {
        ::unlinkat(src_dir, final_name->second.c_str(), 0);
      }
    }
    ::unlinkat(dir, temp.c_str(), 0);  // a link of that name goes too, not what it names
  }
  return static_cast<int>(temps.size());
}

}  // namespace platform
