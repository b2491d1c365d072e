// Private-profile files on POSIX: the reader and writer of the Windows format, with its rules
// (names without regard to the case of A to Z, blanks around values removed, quotes around a
// value removed, the default's trailing blanks removed, values cut to the caller's buffer, only
// the first of several sections of the same name).
//
// A write reads the file once, with bounded memory, to find the one change it makes: a value
// replaced, a key inserted after its section's last line, or a section appended. Every other
// byte, odd lines included, stays as it was. An existing file is changed in place, as the
// system's own writer does, so that it keeps its owner, group, mode and every other attribute
// (a pupil's Client.ini stays writable by the pupil): the bytes after the change are moved by
// the difference in length, in blocks and in an order that reads each byte before it is
// overwritten, the change is written, the file cut to its new length and flushed. A kill during
// that costs at most the bytes from the changed line to the end (the system's writer rewrites
// the whole file); the usual change, one value of the same length, is a single write.
//
// A file that cannot be changed in place (more names than one, so that a write through this
// name would change another file too, or one the writer may read but not write) is replaced:
// its new content goes into a new file beside it, which takes the old one's owner, group and
// mode, is flushed and then takes the name; when the owner cannot be given to it (a writer that
// is not root), nothing is written. A file that does not exist yet is created the same way. The
// new file's temporary name marks it as a leftover should the process die before the rename.

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>

#include "platform/automation_error.h"
#include "platform/confined_folder.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "platform/utf.h"
#include "posix/fd_util.h"
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

// The one change of a write: at offset, removed bytes give way to text.
struct Edit {
  uint64_t offset = 0;
  uint64_t removed = 0;
  std::string text;
};

Edit edit_of(const Plan& plan, std::string_view section, std::string_view key,
             std::string_view value) {
  const std::string entry = std::string(key) + "=" + std::string(value) + "\r\n";
  if (plan.replace_from) {
    return {*plan.replace_from, plan.replace_to - *plan.replace_from, std::string(value)};
  }
  if (plan.insert_at) {
    return {*plan.insert_at, 0, (plan.insert_needs_newline ? "\r\n" : "") + entry};
  }
  return {plan.size, 0,
          (plan.ends_with_newline ? "" : "\r\n") + ("[" + std::string(section) + "]\r\n") + entry};
}

// Runs a positioned read or write (::pread, ::pwrite) until all size bytes are done; false
// when it fails or the file ends first (it shrank meanwhile).
template <typename Io, typename Byte>
bool positioned_all(Io io, int fd, Byte* data, std::size_t size, uint64_t at) {
  while (size > 0) {
    const ssize_t n = io(fd, data, size, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
    at += static_cast<uint64_t>(n);
  }
  return true;
}

bool pwrite_all(int fd, const char* data, std::size_t size, uint64_t at) {
  return positioned_all(::pwrite, fd, data, size, at);
}

bool pread_all(int fd, char* data, std::size_t size, uint64_t at) {
  return positioned_all(::pread, fd, data, size, at);
}

constexpr std::size_t kBlock = 1 << 15;

// Moves the bytes [from, to) of the file by delta, block by block: from the end when they move
// up, from the start when they move down, so that no byte is overwritten before it is read.
bool shift(int fd, uint64_t from, uint64_t to, int64_t delta) {
  if (delta == 0 || from >= to) return true;
  std::string buffer(kBlock, '\0');
  for (uint64_t done = 0; done < to - from;) {
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(kBlock, to - from - done));
    const uint64_t at = delta > 0 ? to - done - n : from + done;
    const auto moved_to = static_cast<uint64_t>(static_cast<int64_t>(at) + delta);
    if (!pread_all(fd, buffer.data(), n, at) || !pwrite_all(fd, buffer.data(), n, moved_to)) {
      return false;
    }
    done += n;
  }
  return true;
}

// Applies the edit to the file of size bytes behind fd, in place, and flushes it to disk.
bool write_in_place(int fd, uint64_t size, const Edit& edit) {
  const uint64_t tail = edit.offset + edit.removed;
  const int64_t delta = static_cast<int64_t>(edit.text.size()) - static_cast<int64_t>(edit.removed);
  // A shorter text fits into the bytes it replaces before the rest moves down; a longer one
  // needs the rest moved up first.
  const bool text_first = delta <= 0;
  if (text_first && !pwrite_all(fd, edit.text.data(), edit.text.size(), edit.offset)) return false;
  if (!shift(fd, tail, size, delta)) return false;
  if (!text_first && !pwrite_all(fd, edit.text.data(), edit.text.size(), edit.offset)) return false;
  return ::ftruncate(fd, static_cast<off_t>(static_cast<int64_t>(size) + delta)) == 0 &&
         ::fsync(fd) == 0;
}

// Appends the bytes [begin, end) of in to out at *out_at.
bool copy_range(int in, int out, uint64_t begin, uint64_t end, uint64_t* out_at) {
  std::string buffer(kBlock, '\0');
  for (uint64_t at = begin; at < end;) {
    const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(kBlock, end - at));
    const ssize_t got = ::pread(in, buffer.data(), want, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;  // the file shrank meanwhile
    if (!pwrite_all(out, buffer.data(), static_cast<std::size_t>(got), *out_at)) return false;
    at += static_cast<uint64_t>(got);
    *out_at += static_cast<uint64_t>(got);
  }
  return true;
}

// Writes the old file (in, of size bytes; none for a new file) with the edit into out.
bool write_edited(int in, uint64_t size, int out, const Edit& edit) {
  uint64_t at = 0;
  if (in >= 0 && !copy_range(in, out, 0, edit.offset, &at)) return false;
  if (!pwrite_all(out, edit.text.data(), edit.text.size(), at)) return false;
  at += edit.text.size();
  return in < 0 || copy_range(in, out, edit.offset + edit.removed, size, &at);
}

// Replaces the file name in dir by a new file holding the old one (in, whose status is old;
// none for a new file) with the edit. The new file gets the old one's owner, group and mode
// before it takes the name, or nothing is written.
bool replace_file(int dir, const std::string& name, int in, const struct stat* old,
                  uint64_t size, const Edit& edit) {
  std::string temp;
  Fd out;
  for (int attempt = 0; attempt < 100 && out.fd < 0; ++attempt) {
    temp = temporary_name();
    out.fd = open_regular_file(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (out.fd < 0 && errno != EEXIST) return false;
  }
  if (out.fd < 0) return false;
  bool ok = write_edited(in, size, out.fd, edit);
  if (old != nullptr) {
    // Owner first: a change of owner may clear the set-id bits that the mode then restores.
    ok = ok && ::fchown(out.fd, old->st_uid, old->st_gid) == 0 &&
         ::fchmod(out.fd, old->st_mode & 07777) == 0;
  }
  ok = ok && ::fsync(out.fd) == 0;  // whole on disk before it takes the name
  const int fd = out.fd;
  out.fd = -1;
  ok = ::close(fd) == 0 && ok;
  // The rename replaces the name itself: were it swapped for a link meanwhile, the link goes.
  if (ok && ::renameat(dir, temp.c_str(), dir, name.c_str()) == 0) return true;
  ::unlinkat(dir, temp.c_str(), 0);
  return false;
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
  bool writable = true;
  int fd = open_regular_file(dir, file.c_str(), O_RDWR);
  if (fd < 0 && (errno == EACCES || errno == EPERM)) {
    writable = false;  // may still be replaced, when its owner can be kept
    fd = open_regular_file(dir, file.c_str(), O_RDONLY);
  }
  if (fd < 0) {
    return errno == ENOENT &&
           replace_file(dir, file, -1, nullptr, 0, edit_of(Plan{}, section, key, value));
  }
  File in;
  if (!in.adopt(fd, "rb")) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  const Plan plan = plan_write(in.f, section, key);
  const Edit edit = edit_of(plan, section, key, value);
  // Through a second name the change would reach another file: that name keeps it.
  if (writable && st.st_nlink == 1) return write_in_place(fd, plan.size, edit);
  return replace_file(dir, file, fd, &st, plan.size, edit);
}

}  // namespace platform
