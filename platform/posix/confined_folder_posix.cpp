// Confined folder access on POSIX: every name is one component resolved beneath the folder's
// descriptor, with openat2(RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS) where the kernel has it and
// openat(O_NOFOLLOW) elsewhere, files through open_regular_file (safe_open.h), so that no
// FIFO or device blocks an open; lookups that ignore letter case ask the folder's case index
// (case_index.h), which follows the names others add, and read the folder only on a hit.

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
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
  // The name folder() found it by in its parent (empty for a folder opened by its path).
  std::string found_as;
  // Device and inode, from the descriptor at the first question.
  mutable std::optional<FolderIdentity> identity;
  // The folder's names in any letter case, made at the first lookup that misses the exact
  // spelling and kept current from then on (see case_index.h).
  mutable std::unique_ptr<CaseIndex> index;
  // Whether a clean-up has put back the claims of moves out of this folder (remove_leftovers).
  mutable bool claims_put_back = false;
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
  impl->found_as = to_utf8(entry->name);
  return ConfinedFolder(std::move(impl));
}

FolderIdentity ConfinedFolder::identity() const {
  if (!impl_->identity) {
    struct stat st {};
    if (::fstat(impl_->fd, &st) != 0) throw_errno(errno);
    impl_->identity = FolderIdentity{static_cast<uint64_t>(st.st_dev),
                                     static_cast<uint64_t>(st.st_ino)};
  }
  return *impl_->identity;
}

bool ConfinedFolder::still_in(const ConfinedFolder& parent, std::u16string_view name) const noexcept {
  if (impl_->found_as.empty()) return false;
  try {
    const int dir = parent.impl_->fd;
    struct stat st {};
    // Found in another letter case: a folder of the exact spelling would be preferred now.
    if (to_utf8(name) != impl_->found_as &&
        (::fstatat(dir, to_utf8(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)) {
      return false;
    }
    if (::fstatat(dir, impl_->found_as.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(st.st_mode)) {
      return false;
    }
    return identity() == FolderIdentity{static_cast<uint64_t>(st.st_dev),
                                        static_cast<uint64_t>(st.st_ino)};
  } catch (...) {
    return false;
  }
}

bool ConfinedFolder::holds_folder_in_place() noexcept { return false; }

bool ConfinedFolder::removes_files_held_open() noexcept { return true; }

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

// Claims. A move by copy first renames its source, within the source's own folder, to a
// claim name: the temporary prefix, "claim-", 16 random hexadecimal digits, "-" and the source's
// name (as much of it as fits). Of two movers racing for one file only one can rename its name
// away; the other finds it gone. So only one of them ever copies it, whatever the target's file
// system lacks, and the loser's clean-up can never take the winner's copy.
constexpr std::string_view kClaimTag = "claim-";
constexpr std::size_t kTokenDigits = 16;
constexpr std::size_t kNameMax = 255;

std::string claim_head() { return to_utf8(kTemporaryPrefix) + std::string(kClaimTag); }

std::string claim_name(const std::string& name) {
  uint64_t bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
    // No random bits yet (early at boot): the process, a counter and the clock.
    static std::atomic<uint64_t> counter{0};
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    bits = (static_cast<uint64_t>(::getpid()) << 40) ^ (counter.fetch_add(1) << 32) ^
           (static_cast<uint64_t>(t.tv_sec) << 20) ^ static_cast<uint64_t>(t.tv_nsec);
  }
  char token[kTokenDigits + 1];
  std::snprintf(token, sizeof token, "%016llx", static_cast<unsigned long long>(bits));
  std::string claim = claim_head() + token + "-";
  return claim + name.substr(0, kNameMax - claim.size());
}

// The name that entry, a claim, was taken from (cut to what fitted); none for other names.
std::optional<std::string> claimed_name(const std::string& entry) {
  const std::string head = claim_head();
  const std::size_t dash = head.size() + kTokenDigits;
  if (entry.compare(0, head.size(), head) != 0 || entry.size() <= dash + 1 || entry[dash] != '-') {
    return std::nullopt;
  }
  return entry.substr(dash + 1);
}

// Renames from to to, both in dir, never replacing to: false when to is taken, or the rename
// failed. Where the file system has neither a rename that refuses to replace nor hard links,
// the rename follows a check.
bool rename_without_replacing(int dir, const std::string& from, const std::string& to) noexcept {
  if (::renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::linkat(dir, from.c_str(), dir, to.c_str(), 0) == 0) {
    ::unlinkat(dir, from.c_str(), 0);
    return true;
  }
  if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) return false;
  struct stat taken {};
  if (::fstatat(dir, to.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) return false;
  return ::renameat(dir, from.c_str(), dir, to.c_str()) == 0;
}

// Puts back every claim in the folder behind dir under the name it was taken from; a claim
// whose name is taken again stays, for the next clean-up. Returns how many claims were found.
int put_back_claims(int dir) {
  int found = 0;
  for_each_entry(dir, [&](const std::string& entry) {
    if (const auto name = claimed_name(entry)) {
      ++found;
      rename_without_replacing(dir, entry, *name);
    }
  });
  return found;
}

// Whether the entry name in dir is the file of the given status (same device and inode).
bool is_file(int dir, const std::string& name, const struct stat& file) {
  struct stat st {};
  return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == file.st_dev &&
         st.st_ino == file.st_ino;
}

bool is_identity(const struct stat& st, const FileIdentity& expected) {
  return static_cast<uint64_t>(st.st_dev) == expected.volume &&
         static_cast<uint64_t>(st.st_ino) == expected.file;
}

// After a rename into to_dir: whether to holds the expected file. When it holds something else
// (put at the name in from_dir after the caller opened its file), that goes back under its
// name; when the name was taken again meanwhile and it is no regular file (a link or FIFO,
// which carries no mail), it is removed from the target instead.
bool arrived_as_expected(int from_dir, const std::string& from, int to_dir, const std::string& to,
                         const FileIdentity& expected) {
  if (!expected.known()) return true;
  struct stat st {};
  if (::fstatat(to_dir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;  // moved on
  if (is_identity(st, expected)) return true;
  if (::renameat2(to_dir, to.c_str(), from_dir, from.c_str(), RENAME_NOREPLACE) != 0 &&
      !S_ISREG(st.st_mode)) {
    ::unlinkat(to_dir, to.c_str(), 0);
  }
  return false;
}

// A claim that vanished before its mover removed it was put back by another sorter's start-up
// clean-up meanwhile. The source is then claimed again under the name it was put back to, and
// removed, so that the copy is the one left; when that clean-up has already removed it, having
// found the copy under its name, nothing is left to do.
void remove_put_back_source(int dir, const std::string& claim, const struct stat& source) {
  const std::string back = *claimed_name(claim);
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::string again = claim_name(back);
    if (::renameat(dir, back.c_str(), dir, again.c_str()) != 0) return;  // gone
    if (!is_file(dir, again, source)) {
      rename_without_replacing(dir, again, back);  // a new file of that name: not ours
      return;
    }
    if (::unlinkat(dir, again.c_str(), 0) == 0 || errno != ENOENT) return;
  }
}

// The crash-safe move across file systems: the source claimed, a temporary copy in the target
// folder, flushed, linked to its final name (never replacing), then the claimed source removed,
// then the temporary name. Whatever step a crash interrupts, the e-mail exists whole in one of
// the two folders, under its name or a claim, and remove_leftovers() can tell what was done.
// links false takes the path of file systems with neither hard links nor a rename that refuses
// to replace.
void move_by_copy(int from_dir, const std::string& name, int to_dir, const std::string& target,
                  bool links, const FileIdentity& expected) {
  struct stat st {};
  Fd in(open_regular_file(from_dir, name.c_str(), O_RDONLY, 0, &st));
  if (in.fd < 0) {
    if (errno == ENOENT) throw AutomationError(errnum::kFileNotFound);
    if (errno == ELOOP || errno == EXDEV) throw_link();
    if (errno == ENXIO) throw AutomationError(errnum::kPathFileAccess);  // not a regular file
    throw_errno(errno);
  }
  if (expected.known() && !is_identity(st, expected)) {
    throw AutomationError(errnum::kFileNotFound);  // another file took the name: not ours
  }
  const std::string claim = claim_name(name);
  if (::renameat(from_dir, name.c_str(), from_dir, claim.c_str()) != 0) {
    if (errno == ENOENT) throw AutomationError(errnum::kFileNotFound);  // another mover's now
    throw_errno(errno);
  }
  if (!is_file(from_dir, claim, st)) {
    // Another file took the name between the open and the claim: it gets its name back, and
    // the file that was opened is gone.
    rename_without_replacing(from_dir, claim, name);
    throw AutomationError(errnum::kFileNotFound);
  }
  std::string temp;
  Fd out;
  struct stat copy {};
  try {
    for (int attempt = 0; attempt < 100 && out.fd < 0; ++attempt) {
      temp = temporary_name();
      out.fd = open_regular_file(to_dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL,
                                 st.st_mode & 0777);
      if (out.fd < 0 && errno != EEXIST) {
        const int error = errno;
        temp.clear();  // not ours
        throw_errno(error);
      }
    }
    if (out.fd < 0) {
      temp.clear();
      throw AutomationError(errnum::kFileExists);
    }
    copy_contents(in.fd, out.fd);
    if (::fsync(out.fd) != 0 && errno != EINVAL) throw_errno(errno);
    if (::fstat(out.fd, &copy) != 0) throw_errno(errno);
    out.close_checked();
    if (!links || ::linkat(to_dir, temp.c_str(), to_dir, target.c_str(), 0) != 0) {
      const int error = links ? errno : EPERM;
      if (error == EEXIST) throw AutomationError(errnum::kFileExists);
      if (error != EPERM && error != EOPNOTSUPP && error != EMLINK) throw_errno(error);
      // No hard links on the target: a rename that does not replace, else one that checks
      // first (with the source claimed, only a mover of another file could race it).
      if (!links ||
          ::renameat2(to_dir, temp.c_str(), to_dir, target.c_str(), RENAME_NOREPLACE) != 0) {
        const int rename_error = links ? errno : EINVAL;
        if (rename_error == EEXIST) throw AutomationError(errnum::kFileExists);
        if (rename_error != EINVAL && rename_error != ENOSYS) throw_errno(rename_error);
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
    rename_without_replacing(from_dir, claim, name);  // the source as it was
    throw;
  }
  if (::unlinkat(from_dir, claim.c_str(), 0) != 0) {
    const int error = errno;
    if (error == ENOENT) {
      remove_put_back_source(from_dir, claim, st);
    } else {
      // Keep exactly one copy: the source stays, under its name again, and the copy goes.
      rename_without_replacing(from_dir, claim, name);
      if (is_file(to_dir, target, copy)) ::unlinkat(to_dir, target.c_str(), 0);
      if (!temp.empty()) ::unlinkat(to_dir, temp.c_str(), 0);
      throw_errno(error);
    }
  }
  if (!temp.empty()) ::unlinkat(to_dir, temp.c_str(), 0);
}

}  // namespace

void ConfinedFolder::move_file(std::u16string_view name, const ConfinedFolder& target,
                               std::u16string_view target_name, MoveMethod method,
                               FileIdentity expected) const {
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
  if (method == MoveMethod::copy || method == MoveMethod::copy_checked_rename) {
    move_by_copy(from_dir, from, to_dir, to, method == MoveMethod::copy, expected);
  } else if (method == MoveMethod::link ||
             ::renameat2(from_dir, from.c_str(), to_dir, to.c_str(), RENAME_NOREPLACE) != 0) {
    const int error = method == MoveMethod::link ? EINVAL : errno;
    if (error == EEXIST) throw AutomationError(errnum::kFileExists);
    if (error == ENOENT) throw AutomationError(errnum::kFileNotFound);
    if (error == EXDEV) {
      move_by_copy(from_dir, from, to_dir, to, true, expected);
    } else if (error == EINVAL || error == ENOSYS) {  // no RENAME_NOREPLACE here
      if (::linkat(from_dir, from.c_str(), to_dir, to.c_str(), 0) == 0) {
        struct stat linked {};
        if (expected.known() &&
            (::fstatat(to_dir, to.c_str(), &linked, AT_SYMLINK_NOFOLLOW) != 0 ||
             !is_identity(linked, expected))) {
          ::unlinkat(to_dir, to.c_str(), 0);  // a second name of what took the name: not ours
          throw AutomationError(errnum::kFileNotFound);
        }
        if (::unlinkat(from_dir, from.c_str(), 0) != 0) {
          const int unlink_error = errno;
          ::unlinkat(to_dir, to.c_str(), 0);
          throw_errno(unlink_error);
        }
      } else if (errno == EEXIST) {
        throw AutomationError(errnum::kFileExists);
      } else if (errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK || errno == EXDEV) {
        move_by_copy(from_dir, from, to_dir, to, true, expected);
      } else if (errno == ENOENT) {
        throw AutomationError(errnum::kFileNotFound);
      } else {
        throw_errno(errno);
      }
    } else {
      throw_errno(error);
    }
  } else if (!arrived_as_expected(from_dir, from, to_dir, to, expected)) {
    throw AutomationError(errnum::kFileNotFound);  // what took the name is not moved
  }
}

int ConfinedFolder::remove_leftovers(const ConfinedFolder* source_folder,
                                     SourceClaims source_claims) const {
  // Claimed sources first, so that a move whose copy already holds its final name finds its
  // source under that name below. The source folder's claims once per handle: its folders'
  // clean-ups all name it.
  int found = 0;
  if (source_folder != nullptr && source_claims == SourceClaims::put_back &&
      !source_folder->impl_->claims_put_back) {
    found += put_back_claims(source_folder->impl_->fd);
    source_folder->impl_->claims_put_back = true;  // not when the folder could not be read
  }
  // The folder's own claims and temporary files, from one reading of the folder.
  const std::string prefix = to_utf8(kTemporaryPrefix);
  const int dir = impl_->fd;
  std::vector<std::string> claims, temps;
  for_each_entry(dir, [&](const std::string& n) {
    if (n.compare(0, prefix.size(), prefix) == 0) (claimed_name(n) ? claims : temps).push_back(n);
  });
  for (const auto& claim : claims) rename_without_replacing(dir, claim, *claimed_name(claim));
  found += static_cast<int>(claims.size());
  if (temps.empty()) return found;
  std::unordered_map<ino_t, std::string> finals;  // inode -> a non-temporary name
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
  return found + static_cast<int>(temps.size());
}

}  // namespace platform
