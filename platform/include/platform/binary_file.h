#pragma once
// Byte-level access to record files with the rules every record-file operation shares: open
// for reading and writing, create when missing, never truncate, write from the first byte,
// close on every path. Failures throw platform::AutomationError with the classic numbers:
// 52 bad file name (empty or invalid name), 53 file not found, 76 path not found (missing
// folder), 70 permission denied (locked / write-protected), 75 path/file access error
// (a folder given as the path, access refused), 61 disk full, 57 device I/O error.
//
// A file that exists but may only be read is opened for reading alone: reads succeed and
// writes fail with 75, so read-only e-mails can still be opened.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class BinaryFile {
 public:
  // Opens (creating when missing) the file at path. Throws AutomationError.
  static BinaryFile open_read_write(std::u16string_view path);

  BinaryFile(BinaryFile&& other) noexcept;
  BinaryFile& operator=(BinaryFile&& other) noexcept;
  BinaryFile(const BinaryFile&) = delete;
  BinaryFile& operator=(const BinaryFile&) = delete;
  ~BinaryFile();  // closes quietly when close() was not called

  uint64_t size() const;
  // Reads up to max_bytes from offset 0 (the whole file by default).
  std::vector<uint8_t> read_from_start(size_t max_bytes = SIZE_MAX) const;
  // Writes bytes at offset 0, leaving any longer tail of the file in place.
  void write_at_start(std::span<const uint8_t> bytes);
  // Closes and reports a failure to close (flush errors); idempotent.
  void close();

 private:
  friend class ConfinedFolder;  // opens files beneath a folder handle
  explicit BinaryFile(intptr_t handle, bool writable) : handle_(handle), writable_(writable) {}
  intptr_t handle_;
  bool writable_;
};

}  // namespace platform
