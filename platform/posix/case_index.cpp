// The case index of a folder and the one inotify instance that keeps every index current.

#include "posix/case_index.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/file_system.h"
#include "platform/utf.h"
#include "posix/errno_error.h"
#include "posix/fd_util.h"

namespace platform {

uint32_t folded_name_hash(std::string_view name) {
  constexpr uint64_t kBasis = 1469598103934665603ull;
  constexpr uint64_t kPrime = 1099511628211ull;
  uint64_t h = kBasis;
  bool ascii = true;
  for (const char byte : name) {
    const auto b = static_cast<unsigned char>(byte);
    if (b >= 0x80) {
      ascii = false;
      break;
    }
    // ASCII bytes are their own UTF-16 units, and only A-Z among them fold.
    h = (h ^ static_cast<uint64_t>(b >= 'A' && b <= 'Z' ? b + 0x20 : b)) * kPrime;
  }
  if (!ascii) {
    h = kBasis;
    for (const char16_t c : fold_case(from_utf8(name))) h = (h ^ c) * kPrime;
  }
  return static_cast<uint32_t>(h ^ (h >> 32));
}

void HashSet32::insert(uint32_t value) {
  if (value == 0) value = 1;
  if ((size_ + 1) * 4 > slots_.size() * 3) grow();
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = value & mask;; i = (i + 1) & mask) {
    if (slots_[i] == value) return;
    if (slots_[i] == 0) {
      slots_[i] = value;
      ++size_;
      return;
    }
  }
}

bool HashSet32::contains(uint32_t value) const {
  if (value == 0) value = 1;
  if (slots_.empty()) return false;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = value & mask;; i = (i + 1) & mask) {
    if (slots_[i] == value) return true;
    if (slots_[i] == 0) return false;
  }
}

void HashSet32::grow() {
  std::vector<uint32_t> old;
  old.swap(slots_);
  slots_.assign(std::max<std::size_t>(16, old.size() * 2), 0);
  size_ = 0;
  for (const uint32_t v : old) {
    if (v != 0) insert(v);
  }
}

// Whether inotify sees every name added to the folder behind dir. On network and FUSE file
// systems it sees only what this machine does there, not what other clients add (a pupil's
// machine writing into its mailbox over the share), so such folders stay unwatched and every
// question reads the folder.
namespace {
bool changes_are_all_local(int dir) {
  struct statfs info {};
  if (::fstatfs(dir, &info) != 0) return false;
  switch (static_cast<unsigned long>(info.f_type)) {
    case 0x6969UL:      // NFS
    case 0x517BUL:      // SMB
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x65735546UL:  // FUSE (sshfs and the like)
    case 0x00C36400UL:  // Ceph
    case 0x01021997UL:  // 9P
    case 0x5346414FUL:  // AFS
    case 0x47504653UL:  // GPFS
    case 0x0BD00BD0UL:  // Lustre
      return false;
    default:
      return true;
  }
}
}  // namespace

// The process's inotify instance and the indexes that listen to it, by watch. A folder that
// two indexes watch has one watch (inotify hands out one per folder and instance), removed
// with the last of them. Every index is read and written under the one mutex, since taking
// in events writes into indexes of other folders.
class NameWatch {
 public:
  static NameWatch& get() {
    static NameWatch watch;
    return watch;
  }

  std::mutex mutex;

  void watch(CaseIndex& index) {
    if (fd_ < 0 || !changes_are_all_local(index.dir_)) return;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", index.dir_);
    const int wd = ::inotify_add_watch(fd_, path, IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
    if (wd < 0) return;  // out of watches, or no /proc: the index stays unwatched
    index.wd_ = wd;
    by_watch_[wd].push_back(&index);
  }

  void unwatch(CaseIndex& index) {
    if (index.wd_ < 0) return;
    const auto it = by_watch_.find(index.wd_);
    if (it != by_watch_.end()) {
      auto& indexes = it->second;
      indexes.erase(std::remove(indexes.begin(), indexes.end(), &index), indexes.end());
      if (indexes.empty()) {
        ::inotify_rm_watch(fd_, index.wd_);
        by_watch_.erase(it);
      }
    }
    index.wd_ = -1;
  }

  // Takes in every name reported since the last call.
  void drain() {
    if (fd_ < 0 || by_watch_.empty()) return;
    constexpr std::size_t kLargestEvent = sizeof(inotify_event) + NAME_MAX + 1;
    alignas(inotify_event) char buffer[16 * kLargestEvent];
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // EAGAIN: nothing (more) reported
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        take(*event);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
      // Room for one more event of any size left means the queue was empty.
      if (static_cast<std::size_t>(n) + kLargestEvent <= sizeof buffer) return;
    }
  }

 private:
  NameWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
  ~NameWatch() {
    if (fd_ >= 0) ::close(fd_);
  }

  void take(const inotify_event& event) {
    if (event.mask & IN_Q_OVERFLOW) {  // names were lost: every index reads its folder again
      for (auto& [wd, indexes] : by_watch_) {
        for (CaseIndex* index : indexes) index->stale_ = true;
      }
      return;
    }
    const auto it = by_watch_.find(event.wd);
    if (it == by_watch_.end()) return;
    if (event.mask & IN_IGNORED) {  // the folder is gone or unmounted: nothing to follow
      for (CaseIndex* index : it->second) index->wd_ = -1;
      by_watch_.erase(it);
      return;
    }
    if ((event.mask & (IN_CREATE | IN_MOVED_TO)) == 0 || event.len == 0) return;
    const uint32_t hash = folded_name_hash(std::string_view(event.name));
    for (CaseIndex* index : it->second) {
      if (!index->stale_) index->added(hash);
    }
  }

  int fd_;
  std::unordered_map<int, std::vector<CaseIndex*>> by_watch_;
};

CaseIndex::CaseIndex(int dir) : dir_(dir) {
  NameWatch& watch = NameWatch::get();
  const std::lock_guard lock(watch.mutex);
  watch.watch(*this);  // before the folder is read, so that nothing added meanwhile is missed
}

CaseIndex::~CaseIndex() {
  NameWatch& watch = NameWatch::get();
  const std::lock_guard lock(watch.mutex);
  watch.unwatch(*this);
}

bool CaseIndex::may_hold(uint32_t hash) {
  NameWatch& watch = NameWatch::get();
  const std::lock_guard lock(watch.mutex);
  watch.drain();
  if (wd_ < 0) return true;
  if (stale_) rebuild();
  return names_.contains(hash);
}

void CaseIndex::rebuild() {
  names_ = HashSet32();  // its table too, which may have grown with names removed since
  read_names_ = 0;
  for_each_entry(dir_, [&](const std::string& name) {
    names_.insert(folded_name_hash(name));
    ++read_names_;
  });
  added_ = 0;
  stale_ = false;
}

void CaseIndex::added(uint32_t hash) {
  names_.insert(hash);
  if (++added_ > std::max(kRereadAfter, read_names_)) stale_ = true;
}

}  // namespace platform
