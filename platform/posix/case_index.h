#pragma once
// Which names a folder holds, folded for comparisons that ignore letter case, so that a name
// can be checked against every spelling in the folder without reading the folder each time.
//
// The index keeps a 32-bit hash of each folded name (a few bytes a name, whatever the names'
// length). It is kept current for as long as it lives: one inotify instance, shared by the
// whole process, reports every name anyone adds to a watched folder, and each question first
// takes in what was reported. So a name another program creates in another letter case after
// the index was built is still seen. A hash is only a hint: a hit is confirmed by reading the
// folder (names removed stay in the index and cost that read, nothing more). So that names
// removed do not pile up in an index kept for long, it is read from the folder again once more
// names were added since it was read than it held then (and at least kRereadAfter).
//
// When no watch can be set (inotify missing or out of watches, no /proc, a network or FUSE
// file system, where other clients' names go unreported) or events were lost,
// the index cannot be trusted: lost events make it read the folder again, and an unwatched
// folder answers "maybe" to everything, so that callers read the folder every time.

#include <cstdint>
#include <string_view>
#include <vector>

namespace platform {

// The hash of a file name (UTF-8, or any bytes) folded as fold_case() folds it.
uint32_t folded_name_hash(std::string_view name);

// A set of 32-bit values in one flat table (open addressing).
class HashSet32 {
 public:
  void insert(uint32_t value);
  bool contains(uint32_t value) const;
  void clear() {
    slots_.clear();
    size_ = 0;
  }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return slots_.size(); }

 private:
  void grow();
  std::vector<uint32_t> slots_;  // 0 marks a free slot; the value 0 is stored as 1
  std::size_t size_ = 0;
};

class CaseIndex {
 public:
  // Indexes the folder behind dir (which the caller keeps open for the index's lifetime).
  explicit CaseIndex(int dir);
  ~CaseIndex();
  CaseIndex(const CaseIndex&) = delete;
  CaseIndex& operator=(const CaseIndex&) = delete;

  // False when no name of the folder folds to this hash, as of this call; true when one may.
  bool may_hold(uint32_t hash);

  // Whether names added by others are followed (for tests and diagnostics).
  bool watched() const { return wd_ >= 0; }

  // Names added since the folder was read, beyond which it is read again (see above).
  static constexpr std::size_t kRereadAfter = 256;

 private:
  friend class NameWatch;
  void rebuild();
  void added(uint32_t hash);

  int dir_;
  int wd_ = -1;         // the inotify watch, or -1
  bool stale_ = true;   // the table must be read from the folder again
  HashSet32 names_;
  std::size_t read_names_ = 0;  // how many names the folder held when it was read
  std::size_t added_ = 0;       // names reported added since
};

}  // namespace platform
