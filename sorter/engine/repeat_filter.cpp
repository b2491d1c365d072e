#include "sorter/engine/repeat_filter.h"

namespace sorter {

void RepeatFilter::begin_round() {
  for (auto& [subject, entry] : entries_) entry.met = false;
}

bool RepeatFilter::should_report(const std::u16string& subject, const std::u16string& reason,
                                 double now) {
  auto [it, added] = entries_.try_emplace(subject);
  Entry& e = it->second;
  e.met = true;
  // A clock set back also reports again rather than staying silent for long.
  const bool due = added || e.reason != reason || now - e.reported_at >= interval_days_ ||
                   now < e.reported_at;
  if (due) {
    e.reason = reason;
    e.reported_at = now;
  }
  return due;
}

void RepeatFilter::end_round() {
  std::erase_if(entries_, [](const auto& item) { return !item.second.met; });
}

}  // namespace sorter
