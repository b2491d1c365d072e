#pragma once
// Keeps a problem that persists from round to round (a file that cannot be moved) from
// flooding the log: a problem is reported when it is new, when its reason changes, or when the
// interval has passed since its last report. Problems not met again in a round are forgotten.

#include <string>
#include <unordered_map>

namespace sorter {

class RepeatFilter {
 public:
  explicit RepeatFilter(double interval_seconds) : interval_days_(interval_seconds / 86400.0) {}

  void begin_round();
  // True when the problem of subject should be logged now; marks the subject as met.
  bool should_report(const std::u16string& subject, const std::u16string& reason, double now);
  // The subject's problem is solved.
  void resolved(const std::u16string& subject) { entries_.erase(subject); }
  void end_round();
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::u16string reason;
    double reported_at = 0;
    bool met = false;
  };
  double interval_days_;
  std::unordered_map<std::u16string, Entry> entries_;
};

}  // namespace sorter
