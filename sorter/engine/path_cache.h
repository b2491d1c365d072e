#pragma once
// Store paths resolved without regard to letter case, remembered for one round so that a
// round over many files looks at each folder once rather than once per file.

#include <string>
#include <unordered_map>

#include "platform/file_system.h"

namespace sorter {

class PathCache {
 public:
  struct Entry {
    std::u16string path;  // the existing spelling, else the path as given
    platform::EntryKind kind = platform::EntryKind::none;
  };
  const Entry& lookup(const std::u16string& path);
  void clear() { entries_.clear(); }

 private:
  std::unordered_map<std::u16string, Entry> entries_;
};

}  // namespace sorter
