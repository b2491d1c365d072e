#pragma once
// What a crash left in the store of moves by copy and settings rewrites (temporary files and
// claimed sources, see platform::ConfinedFolder::remove_leftovers), cleaned without reading
// every folder of old e-mails at start-up:
//  - at start-up, remove_store_leftovers() cleans the store folder (Sorter.ini's rewrites) and
//    gives the drop folder's claimed files their names back, so that rounds see them again.
//    Only then, under the instance guard and before this process moves anything: a claim may
//    also be a move that a second sorter on the store (on another computer) has in progress,
//    and a claim given back while that sorter finishes its move would be delivered twice. The
//    start-up has always taken that chance once; rounds never give the drop folder's claims
//    back.
//  - the folders moves go into (Error, each mailbox with its Inbox and Buffer) are cleaned by
//    a LeftoverSweep the first time the process opens them, before anything is moved into
//    them, and never again. A move whose copy already holds its final name is then finished
//    (its source in the drop folder removed) before the source can be sorted once more: a
//    mailbox's Inbox and Buffer are cleaned together, before either is used, and Error before
//    the first mailbox, so that a source is never delivered to one of them while its copy
//    waits in another. A second sorter's move in progress into such a folder is safe from the
//    sweep as it was from the start-up's: its claim stays claimed, so a copy already linked to
//    its name removes no source, and a copy still being written loses its temporary file, so
//    that sorter's move fails and gives its source back.
//  - where a file the round holds open cannot be removed (Windows: the round reads each drop
//    file before it looks up the recipient's folders, through a handle that shares no
//    deletion), remove_store_leftovers() cleans those folders at start-up instead, and rounds
//    sweep nothing; Windows' search by the prefix's pattern returns the leftovers only.

#include <compare>
#include <optional>
#include <set>
#include <string>

#include "platform/confined_folder.h"
#include "sorter/engine/store_paths.h"

namespace sorter {

// The start-up part (see above). Returns how many leftovers were found.
int remove_store_leftovers(const StorePaths& paths);

// Cleans each folder once, the first time it is handed over; a folder is known by its
// identity (by its path where the file system numbers no folders), so one put in another's
// place is cleaned anew. Failures for the process's own want of handles or memory are thrown
// (the folder is cleaned when it is handed over next); a folder that cannot be read otherwise
// keeps its leftovers, as nothing depends on them. Does nothing where the start-up cleans
// every folder (see above).
class LeftoverSweep {
 public:
  explicit LeftoverSweep(const StorePaths& paths) : paths_(paths) {}

  // A folder moves go into (Error, an Inbox or a Buffer).
  void folder(const platform::ConfinedFolder& folder);
  // A mailbox: the Error folder first (once), then its Inbox and Buffer, then itself (its
  // Client.ini's rewrites). A mailbox found without its Inbox or Buffer is looked at again at
  // each call (cheaply otherwise), so that one put back later is cleaned before either is used.
  void mailbox(const platform::ConfinedFolder& mailbox);
  // Closes the drop folder, for a sorter between two rounds (opened again when needed).
  void close_source() {
    source_.reset();
    source_opened_ = false;
  }

 private:
  // A folder as the sweep tells folders apart.
  struct Key {
    platform::FolderIdentity id;
    std::u16string path;  // only where the identity tells nothing
    auto operator<=>(const Key&) const = default;
  };
  static Key key_of(const platform::ConfinedFolder& folder);
  const platform::ConfinedFolder* source();

  const StorePaths& paths_;
  std::set<Key> cleaned_;
  std::set<Key> whole_mailboxes_;  // cleaned with both Inbox and Buffer
  bool error_cleaned_ = false;
  // The drop folder, whence the moves came, for the moves a sweep finishes: opened once a
  // round at most.
  std::optional<platform::ConfinedFolder> source_;
  bool source_opened_ = false;
};

}  // namespace sorter
