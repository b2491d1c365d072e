#pragma once
// The one failure type of the system: an automation error number, the component that raised
// it (source) and a description. COM callers receive it as HRESULT 0x800A0000 + number with
// error information; the operations that report through ErrorString format it as text.

#include <cstdint>
#include <exception>
#include <string>

namespace platform {

// Classic automation error numbers used across the system.
namespace errnum {
inline constexpr int32_t kInvalidCall = 5;        // Invalid procedure call or argument
inline constexpr int32_t kOverflow = 6;           // Overflow
inline constexpr int32_t kOutOfMemory = 7;        // Out of memory
inline constexpr int32_t kSubscriptRange = 9;     // Subscript out of range
inline constexpr int32_t kTypeMismatch = 13;      // Type mismatch
inline constexpr int32_t kBadFileName = 52;       // Bad file name or number
inline constexpr int32_t kFileNotFound = 53;      // File not found
inline constexpr int32_t kDeviceIo = 57;          // Device I/O error
inline constexpr int32_t kFileExists = 58;        // File already exists
inline constexpr int32_t kBadRecordLength = 59;   // Bad record length
inline constexpr int32_t kDiskFull = 61;          // Disk full
inline constexpr int32_t kInputPastEnd = 62;      // Input past end of file
inline constexpr int32_t kTooManyFiles = 67;      // Too many files
inline constexpr int32_t kPermissionDenied = 70;  // Permission denied
inline constexpr int32_t kPathFileAccess = 75;    // Path/File access error
inline constexpr int32_t kPathNotFound = 76;      // Path not found
inline constexpr int32_t kObjectRequired = 424;   // Object required
}  // namespace errnum

// The standard description of a classic error number ("Overflow", "File not found", ...);
// "Application-defined or object-defined error" for numbers without one.
std::u16string standard_description(int32_t number);

class AutomationError : public std::exception {
 public:
  // Description defaults to the standard text of the number.
  explicit AutomationError(int32_t number, std::u16string description = {},
                           std::u16string source = {});

  int32_t number() const noexcept { return number_; }
  const std::u16string& source() const noexcept { return source_; }
  const std::u16string& description() const noexcept { return description_; }
  const char* what() const noexcept override { return what_.c_str(); }

  // Errors raised below the library (platform, codec) carry no source; the library stamps its
  // own programmatic identifier on them at its boundary.
  AutomationError& with_source_if_empty(std::u16string_view source);

 private:
  int32_t number_;
  std::u16string description_;
  std::u16string source_;
  std::string what_;
};

}  // namespace platform
