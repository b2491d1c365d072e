#pragma once
// Sequential reading of an existing file, for text that is read once from start to end (lesson
// CSV files). Unlike BinaryFile it never creates the file. Other programs may read and write
// the file while it is open. Failures throw platform::AutomationError: 52 bad file name,
// 53 file not found (the folder exists), 76 path not found (it does not), 70 permission denied,
// 75 path/file access error (a folder given as the path), 57 device I/O error.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace platform {

class InputFile {
 public:
  static InputFile open(std::u16string_view path);

  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();  // closes quietly when close() was not called

  // Reads the next bytes into buffer; returns how many, 0 at the end of the file.
  std::size_t read(std::span<uint8_t> buffer);
  // Closes the file; idempotent.
  void close();

 private:
  explicit InputFile(intptr_t handle) : handle_(handle) {}
  intptr_t handle_;
};

}  // namespace platform
