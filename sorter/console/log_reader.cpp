#include "sorter/console/log_reader.h"

#include <cctype>
#include <string_view>

#include "platform/codepage.h"

namespace sorter::console {
namespace {

constexpr std::size_t kStampLength = 19;
constexpr std::size_t kTextColumn = 30;

bool is_stamp(std::string_view line) {
  if (line.size() < kStampLength + 2) return false;
  static constexpr std::string_view kShape = "dddd-dd-dd dd:dd:dd";
  for (std::size_t i = 0; i < kStampLength; ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
    if (kShape[i] == 'd' ? !digit : line[i] != kShape[i]) return false;
  }
  return line.substr(kStampLength, 2) == "  ";
}

EventType type_of(std::string_view label) {
  while (!label.empty() && label.back() == ' ') label.remove_suffix(1);
  if (label == "Error") return EventType::kError;
  if (label == "Warning") return EventType::kWarning;
  if (label == "Info") return EventType::kInformation;
  if (label.starts_with("Type ")) {
    int n = 0;
    for (const char c : label.substr(5)) {
      if (!std::isdigit(static_cast<unsigned char>(c)) || n > 100000) return EventType{0};
      n = n * 10 + (c - '0');
    }
    return EventType{n};
  }
  return EventType{0};
}

}  // namespace

const char* event_type_name(EventType type) {
  switch (type) {
    case EventType::kError:
      return "Error";
    case EventType::kWarning:
      return "Warning";
    case EventType::kInformation:
      return "Info";
    default:
      return "Other";
  }
}

std::vector<LogEntry> parse_log(std::span<const std::uint8_t> bytes) {
  const std::string_view all(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::vector<LogEntry> entries;
  std::size_t pos = 0;
  while (pos < all.size()) {
    std::size_t end = all.find('\n', pos);
    if (end == std::string_view::npos) end = all.size();
    std::string_view line = all.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (is_stamp(line)) {
      LogEntry entry;
      entry.stamp = std::string(line.substr(0, kStampLength));
      const std::string_view rest = line.substr(kStampLength + 2);
      // The label is padded to nine characters; a longer "Type n" is followed by one blank.
      std::size_t label_length = 9;
      if (rest.starts_with("Type ")) {
        const std::size_t blank = rest.find(' ', 5);
        if (blank != std::string_view::npos && blank + 1 > label_length) label_length = blank + 1;
      }
      if (label_length > rest.size()) label_length = rest.size();
      entry.type = type_of(rest.substr(0, label_length));
      const std::size_t text_start = label_length;
      entry.text = platform::from_ansi(rest.substr(text_start));
      entries.push_back(std::move(entry));
    } else if (!entries.empty() && line.size() >= kTextColumn &&
               line.substr(0, kTextColumn).find_first_not_of(' ') == std::string_view::npos) {
      entries.back().text += u"\n";
      entries.back().text += platform::from_ansi(line.substr(kTextColumn));
    }
  }
  return entries;
}

}  // namespace sorter::console
