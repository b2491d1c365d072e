#pragma once
// Confined access to a folder tree that other people write into.
//
// A ConfinedFolder is an open handle of one folder. Every name given to it is a single
// component, looked up directly in that folder: never through a symbolic link (on Windows:
// never through a reparse point, junctions included), and without regard to letter case. So
// whatever the folder's users plant below it, nothing created, written, moved or deleted
// through a ConfinedFolder reaches outside it, and a name that exists in another letter case
// counts as taken.
//
//   auto box = ConfinedFolder::open(u"/srv/store/MailBox");   // the given path may hold links
//   auto inbox = box.folder(u"bob").folder(u"Inbox");         // refuses links below
//   drop.move_file(u"m1.eml", inbox, u"m1.eml");              // never replaces, crash-safe
//
// Only open() follows links: the folder it is given is trusted (an administrator may well have
// made the store or one of its folders a link). Names are refused (52) when empty, ".", "..",
// or when they hold a separator or a NUL.
//
// Failures throw AutomationError with the classic numbers: 53 file not found, 76 path not
// found, 58 file already exists (also under another letter case), 52 bad file name, and 75
// with the description kLinkRefusedText when the name is a link.
//
// Linux: openat2(RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS) from the folder's descriptor, falling
// back to openat(O_NOFOLLOW) where openat2 is missing. Windows: each folder handle is held
// open without delete sharing (its path can then be neither renamed nor replaced while the
// handle lives) and opened with FILE_FLAG_OPEN_REPARSE_POINT, its attributes checked.
//
// Lookups in another letter case: Windows file systems ignore case themselves. On Linux a
// handle indexes the folder's folded names at its first such lookup and keeps the index
// current (inotify reports every name anyone adds later), so a name that someone else creates
// in another letter case while the handle lives is still taken, however long it lives.
//
// A handle kept for long (from one sorting round to the next) may no longer be what its name
// holds: its owner may have renamed or removed the folder, or put a link or another folder in
// its place. still_in() tells, cheaply, before such a handle is used again.

#include <compare>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/binary_file.h"
#include "platform/file_system.h"

namespace platform {

// The description of the failure for a name that is a link (error number 75).
inline constexpr std::u16string_view kLinkRefusedText = u"Link not followed";

// The prefix of the names of temporary files (moves across file systems, profile rewrites).
// Names with this prefix are refused as move targets, so that no delivered file can be taken
// for a leftover.
inline constexpr std::u16string_view kTemporaryPrefix = u".~corvane-part-";
bool is_temporary_name(std::u16string_view name);

// How move_file moves: automatic renames where it can and falls back by itself; link takes
// the path of file systems without a rename that refuses to replace (link, then unlink the
// source); copy the crash-safe copy of moves across file systems; copy_checked_rename that copy
// as on a file system with neither hard links nor a rename that refuses to replace, where the
// copy takes its name by a rename after a check. The last three let tests reach the fallbacks
// without such file systems.
enum class MoveMethod { automatic, link, copy, copy_checked_rename };

// Which folder a handle holds, as the file system tells folders apart: device and inode on
// POSIX, volume serial number and file index on Windows (file 0 where the file system numbers
// no folders, as some network redirectors do: such identities tell nothing).
struct FolderIdentity {
  uint64_t volume = 0;
  uint64_t file = 0;
  auto operator<=>(const FolderIdentity&) const = default;
};

// Which file a caller holds open (device and inode on POSIX; none kept on Windows, where a
// held file's name cannot be taken over): move_file() then moves that file or nothing.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t file = 0;
  bool known() const { return volume != 0 || file != 0; }
};

class ConfinedFolder {
 public:
  struct Entry {
    std::u16string name;  // the spelling found in the folder
    EntryKind kind;       // EntryKind::link for any link
  };

  // Opens the folder at path (links in path are followed). 76 when it is missing.
  static ConfinedFolder open(std::u16string_view path);

  ConfinedFolder(ConfinedFolder&&) noexcept;
  ConfinedFolder& operator=(ConfinedFolder&&) noexcept;
  ~ConfinedFolder();

  // The path this handle was reached by, for messages and for building paths of files in it.
  const std::u16string& path() const;
  // path() + separator + name.
  std::u16string child_path(std::u16string_view name) const;

  // The entry named name in exactly this spelling, else in another letter case; none when
  // there is no such entry.
  std::optional<Entry> find(std::u16string_view name) const;

  // Opens the sub-folder name (any letter case). 76 when missing, 75 when a link or no folder.
  ConfinedFolder folder(std::u16string_view name) const;

  // The folder this handle holds; throws when the system cannot tell.
  FolderIdentity identity() const;

  // For a handle that parent.folder(name) opened: whether that call would open this very
  // folder now, that is, the folder was neither renamed nor removed, nor replaced by a link or
  // another folder, and no folder of name's exact spelling came beside one found in another
  // letter case. False also when it cannot be told. POSIX: one or two fstatat(2) calls.
  bool still_in(const ConfinedFolder& parent, std::u16string_view name) const noexcept;

  // Whether an open handle keeps its folder from being renamed or removed (Windows, see
  // above). Such handles are best closed while idle, for the folders' owners could not rename
  // or remove their folders meanwhile.
  static bool holds_folder_in_place() noexcept;
  // Whether delete_file() and remove_leftovers() can remove a file that this process holds
  // open meanwhile, as a round holds the drop file it reads (Windows: no, that handle shares
  // no deletion).
  static bool removes_files_held_open() noexcept;

  // Opens the file name (any letter case) for reading and writing, creating it when missing
  // and never truncating it; 75 when it is a link or a folder.
  BinaryFile open_file(std::u16string_view name) const;

  // Moves the file name out of this folder into target as target_name. Fails with 58 when
  // target holds target_name in any letter case, never replacing anything, and with 53 when
  // the file is gone (another mover took it). Across file systems the file is first claimed
  // (renamed here to a temporary claim name, which only one of several movers can do), then
  // copied into a temporary name in target, flushed to disk, linked to target_name, and only
  // then removed here; remove_leftovers() cleans up after a crash. With a known expected
  // identity, what the name holds at the moment of the move must be that file: a link, FIFO
  // or other file put at the name after the caller opened it is not moved (it gets its name
  // back here, or is removed from the target when it is no regular file and the name was
  // taken again meanwhile) and the move fails with 53.
  void move_file(std::u16string_view name, const ConfinedFolder& target,
                 std::u16string_view target_name, MoveMethod method = MoveMethod::automatic,
                 FileIdentity expected = {}) const;

  // Deletes the file name, also one marked read-only; a link is removed, not what it names.
  void delete_file(std::u16string_view name) const;

  // After a crash: removes temporary files of interrupted moves and rewrites in this folder,
  // and gives claimed sources of interrupted moves out of this folder and out of source_folder
  // (the latter once per handle) their names back; a claim whose name is taken again stays.
  // A move whose copy already holds its final name is finished: its source in source_folder
  // is removed when it is still there with the same content. Returns how many were found.
  int remove_leftovers(const ConfinedFolder* source_folder = nullptr) const;

  // The native handle (POSIX descriptor, Win32 HANDLE), for the platform's own use.
  intptr_t native_handle() const;

 private:
  struct Impl;
  explicit ConfinedFolder(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
