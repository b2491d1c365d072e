#include "sorter/engine/path_cache.h"

namespace sorter {

const PathCache::Entry& PathCache::lookup(const std::u16string& path) {
  auto it = entries_.find(path);
  if (it == entries_.end()) {
    Entry e;
    e.path = platform::resolve_ignoring_case(path);
    e.kind = platform::entry_kind(e.path);
    it = entries_.emplace(path, std::move(e)).first;
  }
  return it->second;
}

}  // namespace sorter
