#pragma once
// The store's folders as the rounds reach them. The top folders (the drop folder, Error and
// MailBox) are opened by path: they belong to the administrator, who may have made them
// links. Everything below MailBox, each mailbox and its Inbox and Buffer, is opened beneath
// MailBox without following any link: a mailbox whose path holds a link counts as missing,
// and the failure says why. Folders are matched without regard to letter case.
//
// The top folders are opened afresh in each round. The mailboxes' folders are kept from round
// to round, with their letter-case indexes (a folder's index follows the names others add
// while its handle lives), so that a round into mailboxes full of old e-mail costs no more
// than one into empty ones. The store is untrusted and pupils own their mailbox folders: a
// folder kept from an earlier round is checked at its first lookup in a round
// (ConfinedFolder::still_in: still there under its name, not replaced by a link or another
// folder) and opened again when it is not. Failures are not kept: a mailbox created between
// two rounds is found. Where an open handle keeps its folder in place (Windows), the
// mailboxes' folders are closed at the end of each round instead, so that their owners may
// rename or remove them between rounds.
//
// A round may reach thousands of mailboxes, each holding handles, so the mailboxes' folders
// are kept for the users looked up most recently only: between two files, trim() closes the
// least recent ones until at most the budget (a share of the process's handle limit) stays
// open. A lookup that fails for the process's own lack of handles or memory is not kept: the
// other users' folders are closed and the open tried once more, and the next lookup tries
// again.
//
// Each folder that moves go into is cleaned of what a crash left in it (LeftoverSweep) the
// first time this object opens it, before it is used.

#include <cstdint>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/automation_error.h"
#include "platform/confined_folder.h"
#include "sorter/engine/store_leftovers.h"
#include "sorter/engine/store_paths.h"

namespace sorter {

class StoreFolders {
 public:
  // A folder, or why it cannot be used (76 missing, 75 "Link not followed", ...).
  struct Lookup {
    const platform::ConfinedFolder* folder = nullptr;
    const platform::AutomationError* failure = nullptr;
  };

  explicit StoreFolders(const StorePaths& paths) : paths_(paths), leftovers_(paths) {}

  // The budget for a process that may hold handle_limit handles: what stays for the round's
  // other files (the log, the file at hand, stamps, listings) and for the rest of the program.
  static std::size_t budget_for(std::size_t handle_limit);

  // Starts a round with the budget given (how many mailbox folders stay open between two
  // files): the top folders are opened afresh, the mailbox folders kept from earlier rounds
  // are checked at their first lookup in it, and the least recently used beyond the budget
  // are closed.
  void begin_round(std::size_t budget);
  // Ends a round: the top folders are closed, the mailbox folders kept for the next round
  // within the budget (closed where open handles keep folders in place).
  void end_round();
  // Forgets every folder: the next lookups open them afresh.
  void clear();
  // Between two files: closes the folders of the least recently looked-up users until at most
  // the budget stays open. Lookups made before are void from here on.
  void trim();
  // Closes the folders of every user not looked up since the last trim(), for a process short
  // of handles; returns how many were closed.
  std::size_t shed();
  // The mailbox folders open now (a mailbox, its Inbox, its Buffer each count).
  std::size_t open_folders() const { return open_; }

  // Lookups stay valid until the next trim(), end_round() or clear().
  Lookup top(const std::u16string& path);  // MailBank, Error or MailBox by its path
  Lookup error();
  Lookup mailbox(const std::u16string& user);
  Lookup box(const std::u16string& user, bool monitoring);  // Buffer when monitoring, else Inbox

 private:
  struct Slot {
    uint64_t round = 0;  // the round its lookup holds for; others look it up (again)
    std::optional<platform::ConfinedFolder> folder;
    std::optional<platform::AutomationError> failure;
  };
  struct UserSlots {
    Slot mailbox, inbox, buffer;
    std::list<std::u16string>::iterator recent;  // its place in recent_
    uint64_t used_in = 0;                       // the trim() period of its last lookup
  };
  using Open = std::function<platform::ConfinedFolder()>;
  UserSlots& user(const std::u16string& name);
  Lookup lookup(Slot& slot, Lookup parent, std::u16string_view name, const Open& open);
  Lookup top(const std::u16string& path, bool moves_go_in);
  void fill(Slot& slot, const Open& open, bool counted);
  void close(Slot& slot);
  void evict(const std::u16string& name);
  static Lookup view(const Slot& slot);

  const StorePaths& paths_;
  // Top folders by path as built; a user's folders by the user's name as given. Nodes stay
  // where they are, so lookups may keep pointers into them until trim() or clear().
  std::unordered_map<std::u16string, Slot> tops_;
  std::unordered_map<std::u16string, UserSlots> users_;
  std::list<std::u16string> recent_;  // users, the most recently looked up first
  std::size_t open_ = 0;
  std::size_t budget_ = 64;
  uint64_t period_ = 1;  // advanced by each trim(): users looked up since are in use
  uint64_t round_ = 1;   // advanced by each begin_round(), end_round() and clear()
  LeftoverSweep leftovers_;
};

// True when a failure means a link was refused.
bool is_link_refused(const platform::AutomationError& e);

// True when a failure is the process's own lack of handles or memory (67 Too many files,
// 7 Out of memory as the system reports it), not a fault of the file or folder at hand.
bool is_resource_failure(const platform::AutomationError& e);

}  // namespace sorter
