#include "sorter/engine/event_log.h"

#include <cstdio>
#include <exception>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/oa_date.h"

namespace sorter {
namespace {

constexpr std::size_t kTextColumn = 30;  // 19 for the time, 2 blanks, 9 for the type

std::string stamp(double oa_date) {
  const platform::OaDateParts p = platform::oa_date_parts(oa_date);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day,
                p.hour, p.minute, p.second);
  return buffer;
}

std::string type_label(EventType event_type) {
  std::string label;
  switch (event_type) {
    case EventType::kError:
      label = "Error";
      break;
    case EventType::kWarning:
      label = "Warning";
      break;
    case EventType::kInformation:
      label = "Info";
      break;
    default:
      label = "Type " + std::to_string(static_cast<int>(event_type));
  }
  label.resize(label.size() < 9 ? 9 : label.size() + 1, ' ');
  return label;
}

// The text with line breaks turned into indented continuation lines.
std::u16string continued(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
      out += u"\r\n";
      out.append(kTextColumn, u' ');
    } else if ((c < 0x20 && c != u'\t') || c == 0x7F) {
      out += u'?';
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string format_log_entry(double oa_date, std::u16string_view text, EventType event_type) {
  std::string line;
  try {
    line = stamp(oa_date);
  } catch (const std::exception&) {
    line = "0000-00-00 00:00:00";  // a time out of range must not cost the entry
  }
  line += "  " + type_label(event_type);
  line += platform::to_ansi(continued(text));
  line += "\r\n";
  return line;
}

EventLog::EventLog() : EventLog(platform::local_now_as_oa_date) {}

EventLog::EventLog(Clock clock) : clock_(std::move(clock)) {}

void EventLog::StartLogging(std::u16string_view path, LogMode mode) {
  path_ = path;
  on_ = mode == LogMode::kFile;
}

bool EventLog::LogEvent(std::u16string_view text, EventType event_type) noexcept {
  if (!on_) return false;
  if (echo_) {
    try {
      echo_(text, event_type);
    } catch (...) {
      // a copy that fails costs nothing: the file is the log
    }
  }
  try {
    double now = 0;
    try {
      now = clock_();
    } catch (...) {
      // no local time: the entry still counts, with a zero stamp
    }
    platform::append_to_file(platform::resolve_ignoring_case(path_),
                             format_log_entry(now, text, event_type));
    return true;
  } catch (...) {
    return false;  // an unwritable log (no Error folder, full disk) loses the entry, not the program
  }
}

bool EventLog::ready() const noexcept {
  if (!on_) return true;
  try {
    platform::append_to_file(platform::resolve_ignoring_case(path_), {});
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace sorter
