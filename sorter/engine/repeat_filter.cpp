#include "sorter/engine/repeat_filter.h"

namespace sorter {

// A clock set back also counts as due rather than staying silent for long.
bool RepeatFilter::due(const Entry& e, double now) const {
  return now - e.reported_at >= interval_days_ || now < e.reported_at;
}

bool RepeatFilter::should_report(const std::u16string& subject, const std::u16string& reason,
                                 double now) {
  auto [it, added] = entries_.try_emplace(subject);
  Entry& e = it->second;
  const bool report = added || e.reason != reason || due(e, now);
  if (report) {
    e.reason = reason;
    e.reported_at = now;
  }
  return report;
}

void RepeatFilter::end_round(double now) {
  std::erase_if(entries_, [&](const auto& item) { return due(item.second, now); });
}

}  // namespace sorter
