#pragma once
// Keeps a problem that persists from round to round (a file that cannot be moved) from
// flooding the log: a problem is reported when it is new, when its reason changes, or when the
// interval has passed since its last report. A problem is remembered for the interval whether
// or not the rounds in between meet it, so one that shows only every other round (the file
// waits in the rounds between) is still reported once per interval; a problem solved is
// forgotten at once through resolved().

#include <string>
#include <unordered_map>

namespace sorter {

class RepeatFilter {
 public:
  explicit RepeatFilter(double interval_seconds) : interval_days_(interval_seconds / 86400.0) {}

  // True when the problem of subject should be logged now (now as an automation date).
  bool should_report(const std::u16string& subject, const std::u16string& reason, double now);
  // The subject's problem is solved.
  void resolved(const std::u16string& subject) { entries_.erase(subject); }
  // Forgets the problems whose interval has passed: they would be reported as new anyway.
  void end_round(double now);
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::u16string reason;
    double reported_at = 0;
  };
  bool due(const Entry& e, double now) const;
  double interval_days_;
  std::unordered_map<std::u16string, Entry> entries_;
};

}  // namespace sorter
