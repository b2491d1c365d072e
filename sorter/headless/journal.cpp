#include "sorter/headless/journal.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

namespace sorter::headless {

Priority priority_of_event(EventType event_type) {
  return event_type == EventType::kError     ? Priority::kError
         : event_type == EventType::kWarning ? Priority::kWarning
                                             : Priority::kInfo;
}

std::string journal_line(Priority priority, std::string_view text, bool for_journal) {
  const std::string prefix =
      for_journal ? "<" + std::to_string(static_cast<int>(priority)) + ">" : std::string();
  std::string out = prefix;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      if (i + 1 < text.size()) out += "\n" + prefix;
    } else {
      out += c;
    }
  }
  return out + "\n";
}

bool stderr_is_journal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (!stream) return false;
  unsigned long long device = 0, inode = 0;
  if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
  struct stat st {};
  if (::fstat(2, &st) != 0) return false;
  return static_cast<unsigned long long>(st.st_dev) == device &&
         static_cast<unsigned long long>(st.st_ino) == inode;
}

void Messages::write(Priority priority, std::string_view text) const {
  const std::string line = journal_line(priority, text, for_journal_);
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace sorter::headless
