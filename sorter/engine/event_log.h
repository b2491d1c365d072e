#pragma once
// The sorter's log facility. Started with a file path and LogMode::kFile, it appends one entry
// per call to that file (opened and closed for each entry); LogMode::kOff switches it off, after
// which entries are dropped. A log that cannot be written drops the entry and never stops the caller.
//
// Line layout (text in the system code page, lines ending in CR LF):
//
//   2026-12-08 23:15:02  Error    Path not found
//   2026-12-08 23:15:12  Warning  Email sent with no sender information!
//
// local date and time, two blanks, the event type padded to nine characters ("Error" for 1,
// "Warning" for 2, "Info" for 4, "Type n" for any other), then the text unchanged. A line break (CR, LF or
// CR LF) inside the text continues the entry on a new line indented by 30 blanks, so a text
// can never forge an entry of its own; other control characters are shown as '?'.

#include <functional>
#include <string>
#include <string_view>

namespace sorter {

// How StartLogging directs the entries; the numbers are those of the log facility's callers.
enum class LogMode { kOff = 1, kFile = 2 };

// The event type of an entry, by its number. kInformation marks the store console's actions;
// the sorter itself writes only errors and warnings. A number read back from a log may be any.
enum class EventType : int { kError = 1, kWarning = 2, kInformation = 4 };

// One entry in its line layout, as bytes in the system code page.
std::string format_log_entry(double oa_date, std::u16string_view text, EventType event_type);

class EventLog {
 public:
  using Clock = std::function<double()>;  // local time as an automation date
  EventLog();
  explicit EventLog(Clock clock);

  void StartLogging(std::u16string_view path, LogMode mode);
  // True when the entry was written; false when logging is off or the file refused it.
  bool LogEvent(std::u16string_view text, EventType event_type) noexcept;
  // False only while logging to a file that cannot be written: an entry would be lost.
  bool ready() const noexcept;

  // Also hands every entry to echo while logging is on, whether or not the file took it (the
  // headless sorter copies entries to the service manager's journal this way).
  using Echo = std::function<void(std::u16string_view text, EventType event_type)>;
  void set_echo(Echo echo) { echo_ = std::move(echo); }

  bool logging() const { return on_; }
  const std::u16string& path() const { return path_; }

 private:
  Clock clock_;
  Echo echo_;
  std::u16string path_;
  bool on_ = false;
};

}  // namespace sorter
