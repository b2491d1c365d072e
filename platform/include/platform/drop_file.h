#pragma once
// The files of a drop folder that others write into, read by a program with more rights than
// the writers. Each file is opened once, for reading only, relative to the folder's own handle:
// a link in its place is not followed, nothing is created, and a FIFO, device or folder is
// refused without blocking the open. Kind, size and modification time come from the open
// handle, so they describe the very file that is read. Failures throw platform::AutomationError
// with the classic numbers.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/confined_folder.h"
#include "platform/file_system.h"

namespace platform {

// What the open handle says about its file.
struct DropFileFacts {
  EntryKind kind = EntryKind::none;  // file, folder, or other (device, FIFO, socket)
  uint64_t size = 0;
  int64_t modified_ns = 0;     // last write, nanoseconds since 1970 (UTC)
  double age_seconds = 0.0;    // since the last write; negative when it lies in the future
};

// Whether some process has the file open for writing.
enum class Writers {
  none,     // nobody: the file is held so until it is closed (Linux: a read lease)
  present,  // somebody is still writing it
  unknown,  // the file system cannot tell (network mounts, files of other owners)
};

class DropFile {
 public:
  DropFile(DropFile&& other) noexcept;
  DropFile& operator=(DropFile&& other) noexcept;
  DropFile(const DropFile&) = delete;
  DropFile& operator=(const DropFile&) = delete;
  ~DropFile();

  const DropFileFacts& facts() const { return facts_; }
  // The file this handle holds, for ConfinedFolder::move_file (unknown on Windows).
  FileIdentity identity() const { return {volume_, index_}; }

  // Asks whether anyone writes the file. When the answer is none, writers that open the file
  // from now on wait until close() (Linux; on Windows the open itself already refused them).
  Writers writers();

  // Right before the file is moved or deleted by name, with this handle still open: false
  // when a writer has opened the file since writers() answered none (Linux: the read lease was
  // broken), so that the file is left for a later round rather than moved under what was
  // read before. True otherwise, also when writers() could not tell. Writers that come later
  // still wait until close(), which is to follow the move. On Windows the handle is reopened
  // so that the file can be renamed or deleted while it is open, still refusing writers.
  bool hold_for_move();

  // Reads up to out.size() bytes at offset; fewer only at the end of the file.
  std::size_t read_at(uint64_t offset, std::span<uint8_t> out);

  // Reads the file's first bytes (up to max_bytes) now, for read_at to serve from memory later:
  // for a file nobody can write meanwhile (writers() answered none), read before its turn by
  // another thread. A failure leaves them to read_at, which then meets it itself. POSIX only;
  // elsewhere a no-op.
  void read_ahead(std::size_t max_bytes);

  // Lets another open of the same file by name, for reading and writing, succeed while this
  // handle keeps the file in place (Windows: reopens the handle sharing writes; elsewhere a
  // no-op). For readers that can only take a path.
  void share_for_open_by_name();

  // Releases what writers() took and closes the file; idempotent.
  void close() noexcept;

 private:
  friend class DropFolder;
  DropFile(intptr_t handle, DropFileFacts facts, uint64_t volume = 0, uint64_t index = 0)
      : handle_(handle), facts_(facts), volume_(volume), index_(index) {}
  intptr_t handle_;
  DropFileFacts facts_;
  uint64_t volume_;  // which file this is (POSIX: device and inode), for holds()
  uint64_t index_;
  bool leased_ = false;
  std::vector<uint8_t> ahead_;  // the file's first bytes, when read ahead
};

// Whether an open DropFile keeps others from moving or deleting its file (Windows: its handle
// shares no deletion until hold_for_move()). Where it does, a file is best opened only right
// before its move, so that another sorter of the same store is not held off for longer.
#ifdef _WIN32
inline constexpr bool kOpenDropFileBlocksMoves = true;
#else
inline constexpr bool kOpenDropFileBlocksMoves = false;
#endif

// A file of the drop folder that could not be opened as one.
enum class DropOpenStatus {
  opened,
  gone,     // removed or renamed since it was listed, or no regular file now: nothing to do
  link,     // a symbolic link or other reparse point: never followed
  in_use,   // held open by a writer that shares no access (Windows) or under a write lease
};

struct DropOpenResult {
  DropOpenStatus status = DropOpenStatus::gone;
  std::optional<DropFile> file;  // when opened
};

class DropFolder {
 public:
  // Opens a handle of the folder (following a link that names the folder itself).
  explicit DropFolder(std::u16string_view path);
  // Uses the handle of an open confined folder, which must outlive this object.
  explicit DropFolder(const ConfinedFolder& folder);
  DropFolder(DropFolder&&) noexcept;
  DropFolder& operator=(DropFolder&&) noexcept;
  ~DropFolder();

  // Opens the entry name of this folder for reading. Throws AutomationError when it exists
  // but cannot be opened (permission denied, I/O error), and, whatever the file, when the
  // process itself is short of handles or memory (POSIX: EMFILE, ENFILE, ENOMEM, ENOBUFS;
  // Windows: too many open files, not enough memory or system resources): then always 67
  // "Too many files" or 7 "Out of memory" with the standard description, which no fault of
  // the file gives.
  DropOpenResult open(std::u16string_view name) const;

  // Whether name in this folder still is the very file that file, opened from it, reads: not
  // another file or a link put at the name since (a client saving by writing a new file and
  // renaming it over the name). Asked right before the file is moved or deleted by name. On
  // Windows the handle, which shares no deletion until hold_for_move(), kept the name on it.
  bool holds(std::u16string_view name, const DropFile& file) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
