#pragma once
// Deleting and renaming a file through a handle of its own. The handle is opened with DELETE
// access and without delete sharing (and a link is opened as itself), so while one caller holds
// it nobody else can open the file to delete or rename it: of two callers racing for one file,
// exactly one succeeds and the other finds it gone. Deleting or renaming by name cannot promise
// that: both callers may mark the file and both be told they succeeded.

#include <windows.h>

#include <string>

namespace platform {

// Opens path with CreateFileW(access, share, OPEN_EXISTING, flags), waiting a quarter second
// while another handle holds the file (a sharing violation) or its deletion is pending (access
// denied): another mover or deleter has it for a few system calls, which a busy machine can
// stretch. A file found gone meanwhile is reported gone (ERROR_FILE_NOT_FOUND), as it is for
// that caller; a folder is not waited for. Returns the handle, or
// INVALID_HANDLE_VALUE with the error in GetLastError().
HANDLE open_when_free(const std::wstring& path, DWORD access, DWORD share, DWORD flags);

class RemovalHandle {
 public:
  // Opens the file (or, with folders_too, the folder) at path; throws the automation error of
  // the failure. A file held open by someone else for a moment (another caller's removal
  // handle, or a reader) is waited for briefly.
  static RemovalHandle open(const std::wstring& path, bool folders_too);

  RemovalHandle(RemovalHandle&& other) noexcept : h_(other.h_) { other.h_ = INVALID_HANDLE_VALUE; }
  RemovalHandle(const RemovalHandle&) = delete;
  RemovalHandle& operator=(const RemovalHandle&) = delete;
  RemovalHandle& operator=(RemovalHandle&&) = delete;
  ~RemovalHandle() { close(); }

  DWORD attributes() const;  // throws on failure

  // Deletes the file (a read-only one loses its read-only mark first) and closes the handle;
  // throws on failure, leaving the file as it was. path names the file for the attribute change.
  void remove_forced(const std::wstring& path);

  // Gives the file the new full path, never replacing; returns ERROR_SUCCESS or the error.
  DWORD rename_to(const std::wstring& target);

  void close() noexcept;

 private:
  explicit RemovalHandle(HANDLE h) : h_(h) {}
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

}  // namespace platform
