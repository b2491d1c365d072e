#include "sorter/engine/store_leftovers.h"

#include "platform/file_system.h"
#include "sorter/engine/store_folders.h"

namespace sorter {

using platform::AutomationError;
using platform::ConfinedFolder;

namespace {

std::optional<ConfinedFolder> open_top(const std::u16string& path) {
  try {
    return ConfinedFolder::open(platform::resolve_ignoring_case(path));
  } catch (const AutomationError& e) {
    if (is_resource_failure(e)) throw;
    return std::nullopt;  // missing: nothing of ours is in there
  }
}

}  // namespace

namespace {

// Every folder that moves go into, for a system where the round could not remove a source it
// holds open (see below): Error, and each mailbox with its Inbox and Buffer.
int remove_every_folders_leftovers(const StorePaths& paths, const ConfinedFolder* source) {
  int found = 0;
  const auto clean = [&](const ConfinedFolder& folder) {
    try {
      found += folder.remove_leftovers(source);
    } catch (const AutomationError&) {
      // An unreadable folder keeps its leftovers; nothing depends on them.
    }
  };
  if (const auto error = open_top(paths.error_folder())) clean(*error);
  const auto mailboxes = open_top(paths.child(paths.root(), kMailBoxName));
  if (!mailboxes) return found;
  try {
    platform::FolderReader users(mailboxes->path());
    while (const auto user = users.next()) {
      if (user->kind != platform::EntryKind::folder) continue;  // links are not followed
      try {
        const ConfinedFolder box = mailboxes->folder(user->name);
        clean(box);  // Client.ini
        for (const auto name : {kInboxName, kBufferName}) {
          const auto entry = box.find(name);
          if (entry && entry->kind == platform::EntryKind::folder) clean(box.folder(entry->name));
        }
      } catch (const AutomationError&) {
        // Gone meanwhile, or a link: nothing of ours is in there.
      }
    }
  } catch (const AutomationError&) {
    // MailBox unreadable: its leftovers stay.
  }
  return found;
}

}  // namespace

int remove_store_leftovers(const StorePaths& paths) {
  try {
    const auto drop = open_top(paths.drop_folder());
    const ConfinedFolder* source = drop ? &*drop : nullptr;
    const auto root = open_top(paths.root());
    // With the drop folder as the source, its claims are put back first.
    int found = root ? root->remove_leftovers(source) : 0;
    // A LeftoverSweep finishes a move by removing its source, which the round may hold open
    // just then (it reads an e-mail before it looks up the recipient's folders). Where such a
    // file cannot be removed, the folders are cleaned here, before any round. (Windows' search
    // with the prefix's pattern returns the leftovers only, not every e-mail's name.)
    if (!ConfinedFolder::removes_files_held_open()) found += remove_every_folders_leftovers(paths, source);
    return found;
  } catch (const AutomationError&) {
    return 0;  // unreadable: the leftovers stay, nothing depends on them
  }
}

const ConfinedFolder* LeftoverSweep::source() {
  if (!source_opened_) {
    source_ = open_top(paths_.drop_folder());
    source_opened_ = true;
  }
  return source_ ? &*source_ : nullptr;
}

LeftoverSweep::Key LeftoverSweep::key_of(const ConfinedFolder& folder) {
  try {
    const platform::FolderIdentity id = folder.identity();
    if (id.file != 0) return {id, {}};
  } catch (const AutomationError& e) {
    if (is_resource_failure(e)) throw;
  }
  // Some network redirectors number no folders: such folders are known by their paths.
  return {{}, folder.path()};
}

void LeftoverSweep::folder(const ConfinedFolder& folder) {
  if (!ConfinedFolder::removes_files_held_open()) return;  // the start-up cleaned it
  Key key = key_of(folder);
  if (cleaned_.count(key) != 0) return;
  try {
    folder.remove_leftovers(source(), ConfinedFolder::SourceClaims::left);
  } catch (const AutomationError& e) {
    if (is_resource_failure(e)) throw;
  }
  cleaned_.insert(std::move(key));
}

void LeftoverSweep::mailbox(const ConfinedFolder& mailbox) {
  if (!ConfinedFolder::removes_files_held_open()) return;  // the start-up cleaned it
  if (!error_cleaned_) {
    if (const auto error = open_top(paths_.error_folder())) folder(*error);
    error_cleaned_ = true;
  }
  Key key = key_of(mailbox);
  if (whole_mailboxes_.count(key) != 0) return;
  bool whole = true;
  for (const auto name : {kInboxName, kBufferName}) {
    try {
      const auto entry = mailbox.find(name);
      whole = whole && entry && entry->kind == platform::EntryKind::folder;
      if (entry && entry->kind == platform::EntryKind::folder) folder(mailbox.folder(entry->name));
    } catch (const AutomationError& e) {
      if (is_resource_failure(e)) throw;  // else gone meanwhile, or a link: nothing of ours
      whole = false;
    }
  }
  folder(mailbox);
  if (whole) whole_mailboxes_.insert(std::move(key));
}

}  // namespace sorter
