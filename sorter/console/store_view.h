#pragma once
// Finding things in the store by listing it: the store's own folders by name without regard
// to letter case, mailboxes and files by the exact name a listing gave. A name that comes from
// a request is only ever compared with listed names.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sorter/console/store_access.h"

namespace sorter::console {

struct Mailbox {
  std::u16string name;
  StorePath path;
  std::optional<StorePath> inbox;
  std::optional<StorePath> buffer;
};

class StoreView {
 public:
  explicit StoreView(const StoreAccess& store) : store_(store) {}

  // The entries of a folder; none when it is missing or cannot be read.
  std::vector<StoreEntry> entries(const StorePath& folder) const;
  // Its regular files, sorted by name.
  std::vector<StoreEntry> files(const StorePath& folder) const;
  // The e-mails of an Inbox or Buffer: its files but the delivery stamp.
  std::vector<StoreEntry> mails(const StorePath& folder) const;
  // The e-mail with exactly this name in an Inbox or Buffer.
  std::optional<StoreEntry> mail(const StorePath& folder, std::u16string_view name) const;
  // The child of the given kind named name when letter case is ignored (the exact spelling
  // first). Links never match.
  std::optional<StorePath> fixed(const StorePath& folder, std::u16string_view name,
                                 platform::EntryKind kind) const;
  // The child of the given kind with exactly this name, as listed.
  std::optional<StoreEntry> exact(const StorePath& folder, std::u16string_view name,
                                  platform::EntryKind kind) const;

  std::optional<StorePath> drop_folder() const;
  std::optional<StorePath> error_folder() const;
  std::optional<StorePath> log_file() const;
  // Sorter.ini as spelled in the store, else the name a first write creates.
  StorePath settings_file() const;

  // Every mailbox folder (links are no mailboxes), sorted by name.
  std::vector<Mailbox> mailboxes() const;
  std::optional<Mailbox> mailbox(std::u16string_view listed_name) const;
  // The time of the last delivery into a folder, from its timeStamp.dat.
  std::optional<double> time_stamp(const StorePath& folder) const;

  const StoreAccess& store() const { return store_; }

 private:
  Mailbox describe(const StorePath& mailbox_root, const std::u16string& name) const;
  std::optional<StorePath> mailbox_root() const;
  const StoreAccess& store_;
};

StorePath child(StorePath folder, std::u16string name);

}  // namespace sorter::console
