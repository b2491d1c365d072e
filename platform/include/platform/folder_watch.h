#pragma once
// A watch on one folder that tells when a file may have arrived in it, so that a program can
// look at once rather than at its next tick. Only a hint: what is there is read as always,
// and where a file system sends no notifications (network mounts: changes made by other
// machines) nothing comes, so a program keeps its tick as a sweep.
//
// Linux: inotify, for a file written and closed, moved in, or created (also by a link) in the
// folder; an overflowed queue counts as an arrival. Windows: ReadDirectoryChangesW, for a
// name added or renamed into the folder and a file written; removals and names renamed away
// are not arrivals.

#include <cstdint>
#include <memory>
#include <string_view>

namespace platform {

class FolderWatch {
 public:
  // Starts watching the folder at path (following a link that names the folder itself).
  // Throws AutomationError, its description saying why, when the system cannot watch it: the
  // folder is missing, or a limit of watches or of notification queues is reached.
  explicit FolderWatch(std::u16string_view path);
  FolderWatch(FolderWatch&&) noexcept;
  FolderWatch& operator=(FolderWatch&&) noexcept;
  ~FolderWatch();

  // What a program's own wait includes to learn that notifications are pending. POSIX: a
  // descriptor that polls readable; Windows: an event handle that is signalled. It stays the
  // same for the life of the watch.
  intptr_t wait_handle() const;

  // Waits up to seconds (0: not at all) for notifications; true when some are pending.
  bool wait(double seconds) const;

  // Takes every notification pending now, without waiting: however many files arrived since
  // the last call, one answer. True when a file arrived among them.
  bool take_arrivals();

  // False once the folder itself went away (removed, renamed, its file system unmounted) or
  // the system stopped watching it: the watch then stays quiet, and a new one is to be made.
  bool watching() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
