#pragma once
// The store's folders as one round reaches them. The top folders (the drop folder, Error and
// MailBox) are opened by path: they belong to the administrator, who may have made them
// links. Everything below MailBox, each mailbox and its Inbox and Buffer, is opened beneath
// MailBox without following any link: a mailbox whose path holds a link counts as missing,
// and the failure says why. Folders are opened once per round and matched without regard to
// letter case.

#include <optional>
#include <string>
#include <unordered_map>

#include "platform/automation_error.h"
#include "platform/confined_folder.h"
#include "sorter/engine/store_paths.h"

namespace sorter {

class StoreFolders {
 public:
  // A folder, or why it cannot be used (76 missing, 75 "Link not followed", ...).
  struct Lookup {
    const platform::ConfinedFolder* folder = nullptr;
    const platform::AutomationError* failure = nullptr;
  };

  explicit StoreFolders(const StorePaths& paths) : paths_(paths) {}

  // Forgets every folder: the next lookups open them afresh.
  void clear() {
    tops_.clear();
    users_.clear();
  }

  Lookup top(const std::u16string& path);  // MailBank, Error or MailBox by its path
  Lookup error() { return top(paths_.error_folder()); }
  Lookup mailbox(const std::u16string& user);
  Lookup box(const std::u16string& user, bool monitoring);  // Buffer when monitoring, else Inbox

 private:
  struct Slot {
    bool looked_up = false;
    std::optional<platform::ConfinedFolder> folder;
    std::optional<platform::AutomationError> failure;
  };
  struct UserSlots {
    Slot mailbox, inbox, buffer;
  };
  Lookup lookup(Slot& slot, Lookup parent, std::u16string_view name);
  static Lookup view(const Slot& slot);

  const StorePaths& paths_;
  // Top folders by path as built; a user's folders by the user's name as given. Nodes stay
  // where they are, so lookups may keep pointers into them until clear().
  std::unordered_map<std::u16string, Slot> tops_;
  std::unordered_map<std::u16string, UserSlots> users_;
};

// True when a failure means a link was refused.
bool is_link_refused(const platform::AutomationError& e);

// Removes what an interrupted move or settings rewrite left in the store (see
// platform::ConfinedFolder::remove_leftovers), finishing moves out of the drop folder whose
// copy was complete. Returns how many leftovers were found.
int remove_store_leftovers(const StorePaths& paths);

}  // namespace sorter
