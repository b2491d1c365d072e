#pragma once
// The sorter's log read back into entries: a line that starts with the time stamp and the
// event type opens an entry, lines indented to the text column continue it.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sorter/engine/event_log.h"

namespace sorter::console {

struct LogEntry {
  std::string stamp;  // "2026-12-09 07:45:12"
  EventType type{0};  // as the label names it ("Type n": n); 0 when the label is unknown
  std::u16string text;
};

// Entries in file order. Bytes before the first entry (a tail cut mid-entry) are dropped.
std::vector<LogEntry> parse_log(std::span<const std::uint8_t> bytes);

const char* event_type_name(EventType type);

}  // namespace sorter::console
