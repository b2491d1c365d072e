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
  constexpr std::size_t kMost = 8192;
  const std::size_t half_of_rest = handle_limit > kReserve ? (handle_limit - kReserve) / 2 : 0;
  return std::clamp(half_of_rest, kLeast, kMost);
}

StoreFolders::Lookup StoreFolders::view(const Slot& slot) {
  return {slot.folder ? &*slot.folder : nullptr, slot.failure ? &*slot.failure : nullptr};
}

void StoreFolders::begin_round(std::size_t budget) {
  ++round_;
  tops_.clear();
  budget_ = budget;
  // Users whose folders all failed keep nothing worth keeping: every lookup tries again.
  std::vector<std::u16string> empty;
  for (const auto& [name, slots] : users_) {
    if (!slots.mailbox.folder && !slots.inbox.folder && !slots.buffer.folder) empty.push_back(name);
  }
  for (const auto& name : empty) evict(name);
  trim();
}

void StoreFolders::end_round() {
  ++round_;
  tops_.clear();
  leftovers_.close_source();
  if (platform::ConfinedFolder::holds_folder_in_place()) {
    clear();
  } else {
    trim();
  }
}

void StoreFolders::clear() {
  users_.clear();
  recent_.clear();
  tops_.clear();
  open_ = 0;
  ++period_;
  ++round_;
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

void StoreFolders::close(Slot& slot) {
  if (slot.folder) --open_;
  slot.folder.reset();
}

void StoreFolders::evict(const std::u16string& name) {
  const auto it = users_.find(name);
  if (it == users_.end()) return;
  for (Slot* slot : {&it->second.mailbox, &it->second.inbox, &it->second.buffer}) close(*slot);
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
void StoreFolders::fill(Slot& slot, const Open& open, bool counted) {
  close(slot);
  slot.failure.reset();
  for (bool retried = false;; retried = true) {
    try {
      slot.folder.emplace(open());
      slot.round = round_;
      if (counted) ++open_;
      return;
    } catch (const AutomationError& e) {
      const bool shortage = is_resource_failure(e);
      if (shortage && !retried && shed() > 0) continue;
      slot.failure.emplace(e);
      slot.round = shortage ? 0 : round_;
      return;
    }
  }
}

StoreFolders::Lookup StoreFolders::top(const std::u16string& path, bool moves_go_in) {
  Slot& slot = tops_[path];
  if (slot.round != round_) {
    fill(slot, [&] {
      ConfinedFolder folder = ConfinedFolder::open(platform::resolve_ignoring_case(path));
      if (moves_go_in) leftovers_.folder(folder);
      return folder;
    }, false);
  }
  return view(slot);
}

StoreFolders::Lookup StoreFolders::top(const std::u16string& path) { return top(path, false); }

StoreFolders::Lookup StoreFolders::error() { return top(paths_.error_folder(), true); }

// A folder kept from an earlier round is used again while its parent still holds it under its
// name; otherwise, and for a failure of an earlier round, it is looked up anew.
StoreFolders::Lookup StoreFolders::lookup(Slot& slot, Lookup parent, std::u16string_view name,
                                          const Open& open) {
  if (slot.round == round_) return view(slot);
  if (parent.failure) {
    close(slot);
    slot.failure.emplace(*parent.failure);
    slot.round = is_resource_failure(*parent.failure) ? 0 : round_;
  } else if (slot.folder && slot.folder->still_in(*parent.folder, name)) {
    slot.round = round_;
  } else {
    fill(slot, open, true);
  }
  return view(slot);
}

StoreFolders::Lookup StoreFolders::mailbox(const std::u16string& user_name) {
  UserSlots& slots = user(user_name);
  if (slots.mailbox.round == round_) return view(slots.mailbox);
  const Lookup parent = top(paths_.child(paths_.root(), kMailBoxName));
  return lookup(slots.mailbox, parent, user_name, [&] {
    ConfinedFolder folder = parent.folder->folder(user_name);
    leftovers_.mailbox(folder);
    return folder;
  });
}

StoreFolders::Lookup StoreFolders::box(const std::u16string& user_name, bool monitoring) {
  UserSlots& slots = user(user_name);
  Slot& slot = monitoring ? slots.buffer : slots.inbox;
  if (slot.round == round_) return view(slot);
  const std::u16string_view name = monitoring ? kBufferName : kInboxName;
  const Lookup parent = mailbox(user_name);
  if (parent.folder) {
    try {
      leftovers_.mailbox(*parent.folder);  // again only while its Inbox or Buffer was missing
    } catch (const AutomationError& e) {
      close(slot);
      slot.failure.emplace(e);  // a shortage: tried again at the next lookup
      slot.round = 0;
      return view(slot);
    }
  }
  return lookup(slot, parent, name, [&] {
    ConfinedFolder folder = parent.folder->folder(name);
    leftovers_.folder(folder);
    return folder;
  });
}

}  // namespace sorter
