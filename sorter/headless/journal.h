#pragma once
// Messages of the headless sorter on standard error. Under the service manager (JOURNAL_STREAM
// names the very stream standard error is), each line starts with the journal's priority
// prefix, so that the journal files errors, warnings and information at their own levels;
// log entries are then also echoed there, as a service has no terminal to watch the log file.

#include <string>
#include <string_view>

#include "sorter/engine/event_log.h"

namespace sorter::headless {

enum class Priority { kError = 3, kWarning = 4, kInfo = 6 };

// The priority of a log entry's event type: errors and warnings at their own, anything else
// as information.
Priority priority_of_event(EventType event_type);

// One message as it goes to standard error: "<p>" in front when for the journal, each line of
// a text with line breaks prefixed on its own, one line end at the end.
std::string journal_line(Priority priority, std::string_view text, bool for_journal);

// True when JOURNAL_STREAM ("device:inode") names the file standard error is connected to.
bool stderr_is_journal();

class Messages {
 public:
  explicit Messages(bool for_journal) : for_journal_(for_journal) {}
  bool for_journal() const { return for_journal_; }
  void write(Priority priority, std::string_view text) const;

 private:
  bool for_journal_;
};

}  // namespace sorter::headless
