#pragma once
// The file-system services of the sorter: folder tests and creation, enumeration, moves that
// never replace a file, forced deletes, modification age, appends, and the lookup of names
// without regard to letter case on file systems that tell case apart. Failures throw
// platform::AutomationError with the classic numbers (53 file not found, 58 file already
// exists, 70 permission denied, 75 path/file access error, 76 path not found).

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The separator of path components: '\' on Windows, '/' elsewhere.
char16_t path_separator();

// link: a symbolic link or other reparse point, reported only where links are not followed.
enum class EntryKind { none, file, folder, other, link };

// What path names, following symbolic links; none when nothing is there.
EntryKind entry_kind(std::u16string_view path);
inline bool folder_exists(std::u16string_view path) {
  return entry_kind(path) == EntryKind::folder;
}

// Creates one folder; its parent must exist.
void create_folder(std::u16string_view path);

// Moves (renames) a file. An existing file at target is never replaced: the move then fails
// with 58. Across file systems the file is copied as ConfinedFolder::move_file does (POSIX:
// the same move, which also takes a name in another letter case as taken).
void move_file_no_replace(std::u16string_view source, std::u16string_view target);

// Deletes a file, also one marked read-only.
void delete_file_forced(std::u16string_view path);

// Seconds since the file was last written, negative when that time lies in the future; no
// value when the file cannot be examined.
std::optional<double> seconds_since_last_write(std::u16string_view path);

// Appends bytes to a file, creating it when missing. The file is open only during the call.
// A file that is a link (the log in a folder others may write into) is refused: 75.
void append_to_file(std::u16string_view path, std::string_view bytes);

// The entries of one folder, one at a time, without "." and "..". Symbolic links and other
// special entries are reported as EntryKind::other. Entries added or removed while reading
// may or may not be reported; none is reported twice.
class FolderReader {
 public:
  struct Entry {
    std::u16string name;
    EntryKind kind;
  };
  explicit FolderReader(std::u16string_view folder);  // throws when it cannot be read
  FolderReader(FolderReader&&) noexcept;
  FolderReader& operator=(FolderReader&&) noexcept;
  ~FolderReader();
  std::optional<Entry> next();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// True where the file system itself ignores letter case (Windows).
bool file_names_ignore_case();

// The path of an existing entry that matches path when letter case is ignored, component by
// component; components with no match are kept as given. Where file names ignore case, or the
// path exists as given, the path is returned unchanged.
std::u16string resolve_ignoring_case(std::u16string_view path);

// Folds a name for comparisons that ignore case (ASCII and Latin-1 letters).
std::u16string fold_case(std::u16string_view name);

}  // namespace platform
