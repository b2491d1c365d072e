#pragma once
// The test whether another copy of a program already runs on this computer. A guard claims a
// name for as long as it lives; a second guard of the same name, in this or another process,
// learns that the name is taken.
//
// Windows: a named mutex in the session. POSIX: an advisory lock on a file in the runtime or
// temporary folder, released by the system when the process ends, however it ends.
//
// for_folder() claims a folder instead of a name: one guard per folder however its path is
// spelt or linked to, with nothing created anywhere. POSIX: an exclusive flock on a descriptor
// of the folder itself (released with the process); Windows: a named mutex named after the
// folder's final path.
//
// folder_claimed() asks whether a for_folder guard holds a folder without claiming it, so
// that a watcher (the store console) never makes a starting copy find the folder taken.

#include <memory>
#include <optional>
#include <string_view>

namespace platform {

class InstanceGuard {
 public:
  explicit InstanceGuard(std::u16string_view name);
  // Claims the folder at path; when the folder cannot be opened the test cannot be made and
  // the guard counts as the only one.
  static InstanceGuard for_folder(std::u16string_view path);
  // Whether a for_folder guard holds the folder at path now, asked without holding anything a
  // guard needs: however often and at whatever moment it is asked, a for_folder guard made
  // meanwhile still claims the folder. nullopt when it cannot be told: the folder cannot be
  // opened, or on Windows, where any handle to a named mutex keeps its name taken.
  static std::optional<bool> folder_claimed(std::u16string_view path);
  InstanceGuard(InstanceGuard&&) noexcept;
  InstanceGuard& operator=(InstanceGuard&&) noexcept;
  ~InstanceGuard();

  // True when another guard of the same name held it first.
  bool another_copy_running() const;

 private:
  InstanceGuard() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
