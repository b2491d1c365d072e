#include "sorter/engine/store_folders.h"

#include <algorithm>
#include <vector>

#include "platform/file_system.h"

namespace sorter {

using platform::AutomationError;
using platform::ConfinedFolder;

bool is_link_refused(const AutomationError& e) {
  return e.description() == platform::kLinkRefusedText;
}

bool is_resource_failure(const AutomationError& e) {
  if (e.number() == platform::errnum::kTooManyFiles) return true;
  // The reader's own "Out of memory" for a list the file claims is the file's fault: it
  // carries a description of its own.
  return e.number() == platform::errnum::kOutOfMemory &&
         e.description() == platform::standard_description(platform::errnum::kOutOfMemory);
}

std::size_t StoreFolders::budget_for(std::size_t handle_limit) {
  constexpr std::size_t kReserve = 16;  // the round's other handles and the program's own
  constexpr std::size_t kLeast = 3;     // one mailbox with its Inbox and Buffer
  constexpr std::size_t kMost = 1024;
  const std::size_t half_of_rest = handle_limit > kReserve ? (handle_limit - kReserve) / 2 : 0;
  return std::clamp(half_of_rest, kLeast, kMost);
}

StoreFolders::Lookup StoreFolders::view(const Slot& slot) {
  return {slot.folder ? &*slot.folder : nullptr, slot.failure ? &*slot.failure : nullptr};
}

void StoreFolders::clear() {
  users_.clear();
  recent_.clear();
  tops_.clear();
  open_ = 0;
  ++period_;
}

void StoreFolders::trim() {
  ++period_;
  while (open_ > budget_ && !recent_.empty()) evict(recent_.back());
}

StoreFolders::UserSlots& StoreFolders::user(const std::u16string& name) {
  auto [it, added] = users_.try_emplace(name);
  if (added) {
    recent_.push_front(name);
    it->second.recent = recent_.begin();
  } else {
    recent_.splice(recent_.begin(), recent_, it->second.recent);
  }
  it->second.used_in = period_;
  return it->second;
}

void StoreFolders::evict(const std::u16string& name) {
  const auto it = users_.find(name);
  if (it == users_.end()) return;
  for (const Slot* slot : {&it->second.mailbox, &it->second.inbox, &it->second.buffer}) {
    if (slot->folder) --open_;
  }
  recent_.erase(it->second.recent);
  users_.erase(it);
}

// Closes the folders of every user not looked up since the last trim(); returns how many.
std::size_t StoreFolders::shed() {
  const std::size_t before = open_;
  std::vector<std::u16string> idle;
  for (const auto& [name, slots] : users_) {
    if (slots.used_in != period_) idle.push_back(name);
  }
  for (const auto& name : idle) evict(name);
  return before - open_;
}

// Opens the slot's folder. A failure for the process's own lack of resources is tried once
// more after closing idle folders, and is not kept: the next lookup tries again.
void StoreFolders::fill(Slot& slot, const std::function<ConfinedFolder()>& open, bool counted) {
  slot.failure.reset();
  for (bool retried = false;; retried = true) {
    try {
      slot.folder.emplace(open());
      slot.looked_up = true;
      if (counted) ++open_;
      return;
    } catch (const AutomationError& e) {
      const bool shortage = is_resource_failure(e);
      if (shortage && !retried && shed() > 0) continue;
      slot.failure.emplace(e);
      slot.looked_up = !shortage;
      return;
    }
  }
}

StoreFolders::Lookup StoreFolders::top(const std::u16string& path) {
  Slot& slot = tops_[path];
  if (!slot.looked_up) {
    fill(slot, [&] { return ConfinedFolder::open(platform::resolve_ignoring_case(path)); }, false);
  }
  return view(slot);
}

StoreFolders::Lookup StoreFolders::lookup(Slot& slot, Lookup parent, std::u16string_view name) {
  if (slot.looked_up) return view(slot);
  if (parent.failure) {
    slot.failure.emplace(*parent.failure);
    slot.looked_up = !is_resource_failure(*parent.failure);
  } else {
    fill(slot, [&] { return parent.folder->folder(name); }, true);
  }
  return view(slot);
}

StoreFolders::Lookup StoreFolders::mailbox(const std::u16string& user_name) {
  UserSlots& slots = user(user_name);
  if (slots.mailbox.looked_up) return view(slots.mailbox);
  return lookup(slots.mailbox, top(paths_.child(paths_.root(), kMailBoxName)), user_name);
}

StoreFolders::Lookup StoreFolders::box(const std::u16string& user_name, bool monitoring) {
  UserSlots& slots = user(user_name);
  Slot& slot = monitoring ? slots.buffer : slots.inbox;
  if (slot.looked_up) return view(slot);
  return lookup(slot, mailbox(user_name), monitoring ? kBufferName : kInboxName);
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
