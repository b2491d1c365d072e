// Private-profile files on POSIX: the reader and writer of the Windows format, with its rules
// (names without regard to the case of A to Z, blanks around values removed, quotes around a
// value removed, the default's trailing blanks removed, values cut to the caller's buffer, only
// the first of several sections of the same name).
//
// A write streams the file twice with bounded memory: once to find where the key goes, once to
// copy it into a new file beside it with that one change, which is flushed to disk and then
// replaces the old file. Every other byte, odd lines included, is copied unchanged. The new
// file's temporary name marks it as a leftover should the process die before the rename.

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <optional>

#include "platform/automation_error.h"
#include "platform/confined_folder.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "platform/utf.h"
#include "posix/safe_open.h"
#include "posix/temporary_name.h"

namespace platform {
namespace {

constexpr std::size_t kLineLimit = 64 * 1024;  // bytes of a line that are parsed

struct File {
  FILE* f = nullptr;
  ~File() {
    if (f != nullptr) ::fclose(f);
  }
  // Takes over fd (closing it when no stream can be made); false when there is no stream.
  bool adopt(int fd, const char* mode) {
    if (fd < 0) return false;
    f = ::fdopen(fd, mode);
    if (f == nullptr) ::close(fd);
    return f != nullptr;
  }
};

// One physical line: its byte range and the first kLineLimit bytes without the line feed.
struct Line {
  uint64_t start = 0;
  uint64_t end = 0;   // position of the line feed, or of the end of the file
  uint64_t next = 0;  // start of the next line
  bool has_newline = false;
  std::string head;
};

class LineReader {
 public:
  explicit LineReader(FILE* f) : f_(f) {}
  bool next(Line& line) {
    line.start = pos_;
    line.head.clear();
    line.has_newline = false;
    int c = 0;
    while ((c = ::getc_unlocked(f_)) != EOF) {
      ++pos_;
      if (c == '\n') {
        line.has_newline = true;
        break;
      }
      if (line.head.size() < kLineLimit) line.head += static_cast<char>(c);
    }
    line.end = line.has_newline ? pos_ - 1 : pos_;
    line.next = pos_;
    return line.has_newline || pos_ > line.start;
  }
  uint64_t position() const { return pos_; }

 private:
  FILE* f_;
  uint64_t pos_ = 0;
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

unsigned char fold(unsigned char c) {
  // The system's routines ignore the case of A to Z only: accented capitals and their small
  // letters are different characters in names.
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 0x20) : c;
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

enum class Kind { blank, section, key, other };

struct Parsed {
  Kind kind = Kind::other;
  std::string_view name;
  std::string_view value;
  std::size_t value_start = 0;  // offset in the line of the byte after '='
};

Parsed parse(std::string_view raw) {
  Parsed p;
  const std::string_view text = trim(raw);
  if (text.empty()) {
    p.kind = Kind::blank;
  } else if (text.front() == '[') {
    const auto close = text.find(']');
    p.kind = Kind::section;
    p.name = trim(text.substr(1, close == std::string_view::npos ? text.npos : close - 1));
  } else if (text.front() != ';') {
    const auto eq = raw.find('=');
    if (eq != std::string_view::npos) {
      p.kind = Kind::key;
      p.name = trim(raw.substr(0, eq));
      p.value = trim(raw.substr(eq + 1));
      p.value_start = eq + 1;
      const bool quoted = p.value.size() >= 2 && (p.value.front() == '"' || p.value.front() == '\'') &&
                          p.value.back() == p.value.front();
      if (quoted) p.value = p.value.substr(1, p.value.size() - 2);
    }
  }
  return p;
}

// Of several sections of the same name only the first counts, as with the system's routines:
// keys of a later one are neither read nor changed, and a new key goes into the first.
class FirstSection {
 public:
  explicit FirstSection(std::string_view name) : name_(name) {}
  // Whether the line p (the section header included) lies in the first section of the name.
  bool next(const Parsed& p) {
    if (p.kind == Kind::section) {
      const bool match = same_name(p.name, name_);
      inside_ = match && !seen_;
      seen_ = seen_ || match;
    }
    return inside_;
  }

 private:
  std::string_view name_;
  bool inside_ = false;
  bool seen_ = false;
};

std::optional<std::string> native_path(std::u16string_view file) {
  if (file.empty() || file.find(u'\0') != std::u16string_view::npos) return std::nullopt;
  std::string path = to_utf8(resolve_ignoring_case(file));
  // Write through a symbolic link to the file it names, not over the link.
  return resolve_named_path(path);
}

// Where a write puts its change, found by the first pass.
struct Plan {
  std::optional<uint64_t> replace_from;  // the key's value starts here ...
  uint64_t replace_to = 0;                // ... and ends here (before any CR and the line feed)
  std::optional<uint64_t> insert_at;      // after the section's last non-blank line
  bool insert_needs_newline = false;
  uint64_t size = 0;
  bool ends_with_newline = true;
};

Plan plan_write(FILE* f, std::string_view section, std::string_view key) {
  Plan plan;
  LineReader reader(f);
  Line line;
  FirstSection in_first(section);
  bool last_has_newline = true;
  while (reader.next(line)) {
    last_has_newline = line.has_newline;
    const Parsed p = parse(line.head);
    if (!in_first.next(p)) continue;
    if (p.kind == Kind::key && same_name(p.name, key) && !plan.replace_from) {
      plan.replace_from = line.start + p.value_start;
      const bool cr = !line.head.empty() && line.head.back() == '\r' &&
                      line.head.size() == line.end - line.start;
      plan.replace_to = line.end - (cr ? 1 : 0);
    }
    if (p.kind != Kind::blank) {
      plan.insert_at = line.next;
      plan.insert_needs_newline = !line.has_newline;
    }
  }
  plan.size = reader.position();
  plan.ends_with_newline = last_has_newline;
  return plan;
}

bool copy_range(FILE* from, FILE* to, uint64_t begin, uint64_t end) {
  if (::fseeko(from, static_cast<off_t>(begin), SEEK_SET) != 0) return false;
  char buffer[1 << 15];
  for (uint64_t left = end - begin; left > 0;) {
    const std::size_t want = left < sizeof buffer ? static_cast<std::size_t>(left) : sizeof buffer;
    const std::size_t got = ::fread(buffer, 1, want, from);
    if (got == 0) return !::ferror(from);  // the file shrank meanwhile
    if (::fwrite(buffer, 1, got, to) != got) return false;
    left -= got;
  }
  return true;
}

bool put(FILE* to, std::string_view s) { return ::fwrite(s.data(), 1, s.size(), to) == s.size(); }

// Writes the old content with the planned change into `to`.
bool write_changed(FILE* from, FILE* to, const Plan& plan, std::string_view section,
                   std::string_view key, std::string_view value) {
  const std::string entry = std::string(key) + "=" + std::string(value) + "\r\n";
  if (plan.replace_from) {
    return copy_range(from, to, 0, *plan.replace_from) && put(to, value) &&
           copy_range(from, to, plan.replace_to, plan.size);
  }
  if (plan.insert_at) {
    return copy_range(from, to, 0, *plan.insert_at) &&
           put(to, plan.insert_needs_newline ? "\r\n" : "") && put(to, entry) &&
           copy_range(from, to, *plan.insert_at, plan.size);
  }
  return (from == nullptr || copy_range(from, to, 0, plan.size)) &&
         put(to, plan.ends_with_newline ? "" : "\r\n") &&
         put(to, "[" + std::string(section) + "]\r\n") && put(to, entry);
}

bool has_line_break(std::string_view s) { return s.find_first_of("\r\n") != s.npos; }

}  // namespace

std::string read_profile_string(std::u16string_view file, std::string_view section,
                                std::string_view key, std::string_view default_value,
                                std::size_t buffer_size) {
  std::string result(default_value);
  while (!result.empty() && result.back() == ' ') result.pop_back();
  if (const auto path = native_path(file)) {
    File in;
    if (in.adopt(open_regular_file(AT_FDCWD, path->c_str(), O_RDONLY), "rb")) {
      LineReader reader(in.f);
      Line line;
      FirstSection in_first(section);
      while (reader.next(line)) {
        const Parsed p = parse(line.head);
        if (in_first.next(p) && p.kind == Kind::key && same_name(p.name, key)) {
          result = p.value;
          break;
        }
      }
    }
  }
  if (buffer_size == 0) return {};
  if (result.size() > buffer_size - 1) result.resize(buffer_size - 1);
  return result;
}

bool write_profile_string(std::u16string_view file, std::string_view section,
                          std::string_view key, std::string_view value) {
  const auto path = native_path(file);
  if (!path) return false;
  // The file's own folder, where its new content is written beside it before it takes the
  // name; a link given as the file (the administrator's) was resolved above.
  const auto slash = path->find_last_of('/');
  try {
    const ConfinedFolder folder =
        ConfinedFolder::open(from_utf8(slash == 0 ? "/" : path->substr(0, slash)));
    return write_profile_string(folder, from_utf8(path->substr(slash + 1)), section, key, value);
  } catch (const AutomationError&) {
    return false;  // the folder is missing: the write is lost without a report
  }
}

bool write_profile_string(const ConfinedFolder& folder, std::u16string_view name,
                          std::string_view section, std::string_view key, std::string_view value) {
  // A line break in a name or value would forge further lines; a ']' would end the header.
  if (has_line_break(section) || has_line_break(key) || has_line_break(value) ||
      section.find(']') != section.npos || key.find('=') != key.npos || trim(key).empty()) {
    return false;
  }
  std::optional<ConfinedFolder::Entry> entry;
  try {
    entry = folder.find(name);
  } catch (const AutomationError&) {
    return false;
  }
  if (entry && entry->kind != EntryKind::file) return false;  // never through a link
  const std::string file = to_utf8(entry ? entry->name : std::u16string(name));
  const int dir = static_cast<int>(folder.native_handle());
  File in;
  const int in_fd = open_regular_file(dir, file.c_str(), O_RDONLY);
  if (in_fd < 0 && errno != ENOENT) return false;
  if (in_fd >= 0 && !in.adopt(in_fd, "rb")) return false;
  Plan plan;
  if (in.f != nullptr) plan = plan_write(in.f, section, key);
  struct stat st {};
  const bool keep_mode = in.f != nullptr && ::fstat(::fileno(in.f), &st) == 0;

  std::string temp;
  int out_fd = -1;
  for (int attempt = 0; attempt < 100 && out_fd < 0; ++attempt) {
    temp = temporary_name();
    out_fd = open_regular_file(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (out_fd < 0 && errno != EEXIST) return false;
  }
  if (out_fd < 0) return false;
  File out;
  if (!out.adopt(out_fd, "wb")) {
    ::unlinkat(dir, temp.c_str(), 0);
    return false;
  }
  bool ok = write_changed(in.f, out.f, plan, section, key, value);
  ok = ::fflush(out.f) == 0 && ok;
  if (keep_mode) ok = ::fchmod(::fileno(out.f), st.st_mode & 07777) == 0 && ok;
  ok = ok && ::fsync(::fileno(out.f)) == 0;  // whole on disk before it takes the name
  ok = ::fclose(out.f) == 0 && ok;
  out.f = nullptr;
  // The rename replaces the name itself: were it swapped for a link meanwhile, the link goes.
  if (ok && ::renameat(dir, temp.c_str(), dir, file.c_str()) == 0) return true;
  ::unlinkat(dir, temp.c_str(), 0);
  return false;
}

}  // namespace platform
