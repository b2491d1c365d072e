#include "sorter/engine/store_folders.h"

#include "platform/file_system.h"

namespace sorter {

using platform::AutomationError;
using platform::ConfinedFolder;

bool is_link_refused(const AutomationError& e) {
  return e.description() == platform::kLinkRefusedText;
}

StoreFolders::Lookup StoreFolders::view(const Slot& slot) {
  return {slot.folder ? &*slot.folder : nullptr, slot.failure ? &*slot.failure : nullptr};
}

StoreFolders::Lookup StoreFolders::top(const std::u16string& path) {
  Slot& slot = tops_[path];
  if (!slot.looked_up) {
    slot.looked_up = true;
    try {
      slot.folder.emplace(ConfinedFolder::open(platform::resolve_ignoring_case(path)));
    } catch (const AutomationError& e) {
      slot.failure.emplace(e);
    }
  }
  return view(slot);
}

StoreFolders::Lookup StoreFolders::lookup(Slot& slot, Lookup parent, std::u16string_view name) {
  if (!slot.looked_up) {
    slot.looked_up = true;
    if (parent.failure) {
      slot.failure.emplace(*parent.failure);
    } else {
      try {
        slot.folder.emplace(parent.folder->folder(name));
      } catch (const AutomationError& e) {
        slot.failure.emplace(e);
      }
    }
  }
  return view(slot);
}

StoreFolders::Lookup StoreFolders::mailbox(const std::u16string& user) {
  UserSlots& slots = users_[user];
  if (slots.mailbox.looked_up) return view(slots.mailbox);
  return lookup(slots.mailbox, top(paths_.child(paths_.root(), kMailBoxName)), user);
}

StoreFolders::Lookup StoreFolders::box(const std::u16string& user, bool monitoring) {
  UserSlots& slots = users_[user];
  Slot& slot = monitoring ? slots.buffer : slots.inbox;
  if (slot.looked_up) return view(slot);
  return lookup(slot, mailbox(user), monitoring ? kBufferName : kInboxName);
}

int remove_store_leftovers(const StorePaths& paths) {
  int found = 0;
  const auto open = [](const std::u16string& path) -> std::optional<ConfinedFolder> {
    try {
      return ConfinedFolder::open(platform::resolve_ignoring_case(path));
    } catch (const AutomationError&) {
      return std::nullopt;
    }
  };
  const auto clean = [&](const ConfinedFolder& folder, const ConfinedFolder* source) {
    try {
      found += folder.remove_leftovers(source);
    } catch (const AutomationError&) {
      // An unreadable folder keeps its leftovers; nothing depends on them.
    }
  };
  const auto drop = open(paths.drop_folder());
  const ConfinedFolder* source = drop ? &*drop : nullptr;
  if (const auto root = open(paths.root())) clean(*root, nullptr);  // Sorter.ini
  if (const auto error = open(paths.error_folder())) clean(*error, source);
  const auto mailboxes = open(paths.child(paths.root(), kMailBoxName));
  if (!mailboxes) return found;
  try {
    platform::FolderReader users(mailboxes->path());
    while (const auto user = users.next()) {
      if (user->kind != platform::EntryKind::folder) continue;  // links are not followed
      try {
        const ConfinedFolder box = mailboxes->folder(user->name);
        clean(box, nullptr);  // Client.ini
        for (const auto name : {kInboxName, kBufferName}) {
          if (const auto entry = box.find(name); entry && entry->kind == platform::EntryKind::folder) {
            clean(box.folder(entry->name), source);
          }
        }
      } catch (const AutomationError&) {
        // Gone meanwhile, or a link: nothing of ours is in there.
      }
    }
  } catch (const AutomationError&) {
  }
  return found;
}

}  // namespace sorter
