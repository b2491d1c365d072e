// The store through the platform's confined folder access: the store folder and its top
// folders (MailBank, Error, MailBox) are opened by path, as the administrator may have made
// them links; every folder and file below them is reached beneath a folder handle without
// following links. Folders are listed and files read beneath their folder's handle; a
// settings file is checked not to be a link in its folder right before it is read. Names go
// to the platform as they were listed, never through another encoding, so any name the
// store holds works.

#include <algorithm>
#include <random>

#include "platform/automation_error.h"
#include "platform/binary_file.h"
#include "platform/confined_folder.h"
#include "platform/drop_file.h"
#include "platform/folder_listing.h"
#include "sorter/console/store_access.h"
#include "sorter/engine/settings.h"
#include "sorter/engine/store_paths.h"
#include "sorter/engine/time_stamp.h"
#include "platform/utf.h"

namespace sorter::console {
namespace {

using platform::AutomationError;
using platform::ConfinedFolder;
using platform::EntryKind;

std::string unique_suffix() {
  std::random_device source;
  return std::to_string(source()) + "-" + std::to_string(source());
}

class LocalStore final : public StoreAccess {
 public:
  explicit LocalStore(std::u16string root) : paths_(std::move(root)) {}

  std::vector<StoreEntry> list(const StorePath& folder) const override {
    std::vector<StoreEntry> entries;
    for (platform::ListedEntry& e : platform::list_folder(open_folder(folder))) {
      const EntryKind kind = e.kind == EntryKind::link ? EntryKind::other : e.kind;
      entries.push_back(StoreEntry{std::move(e.name), kind, e.size, e.age_seconds});
    }
    return entries;
  }

  // Read through one handle, opened beneath the confined folder without following a link,
  // creating anything or blocking on a FIFO; size from that handle.
  std::vector<std::uint8_t> read(const StorePath& file, std::size_t max_bytes,
                                 bool tail) const override {
    const ConfinedFolder folder = folder_of(file);
    const platform::DropFolder files(folder);
    platform::DropOpenResult opened = files.open(file.back());
    if (opened.status != platform::DropOpenStatus::opened) throw_for(opened.status);
    platform::DropFile& in = *opened.file;
    if (in.facts().kind != EntryKind::file) throw AutomationError(platform::errnum::kFileNotFound);
    const std::uint64_t size = in.facts().size;
    const std::uint64_t start = tail && size > max_bytes ? size - max_bytes : 0;
    std::vector<std::uint8_t> bytes(
        static_cast<std::size_t>(std::min<std::uint64_t>(size - start, max_bytes)));
    bytes.resize(in.read_at(start, bytes));
    return bytes;
  }

  void move(const StorePath& from, const StorePath& to) override {
    folder_of(from).move_file(from.back(), folder_of(to), to.back());
  }

  bool move_settled(const StorePath& from, const StorePath& to, double settle_seconds,
                    double unseen_writers_seconds) override {
    return settled_move(folder_of(from), from.back(), folder_of(to), to.back(), settle_seconds,
                        unseen_writers_seconds);
  }

  std::vector<SettledMove> move_settled_each(const StorePath& from, const StorePath& to,
                                             const std::vector<std::u16string>& names,
                                             double settle_seconds,
                                             double unseen_writers_seconds) override {
    const ConfinedFolder source = open_folder(from);
    const ConfinedFolder target = open_folder(to);
    std::vector<SettledMove> outcomes;
    outcomes.reserve(names.size());
    for (const std::u16string& name : names) {
      SettledMove outcome;
      try {
        check_name(name);
        outcome.moved =
            settled_move(source, name, target, name, settle_seconds, unseen_writers_seconds);
      } catch (const AutomationError& e) {
        outcome.failure = e;
      }
      outcomes.push_back(std::move(outcome));
    }
    return outcomes;
  }

  void remove(const StorePath& file) override {
    const ConfinedFolder folder = folder_of(file);
    const auto entry = folder.find(file.back());
    if (!entry || entry->kind != EntryKind::file) {
      throw AutomationError(platform::errnum::kFileNotFound);
    }
    folder.delete_file(entry->name);
  }

  // Written in the store folder itself, which pupils cannot write into and rounds do not read.
  void add_file(const StorePath& file, const std::vector<std::uint8_t>& bytes) override {
    const ConfinedFolder target = folder_of(file);
    const ConfinedFolder store = open_folder({});
    const std::u16string temporary = u".corvane-new-" + platform::from_utf8(unique_suffix());
    try {
      platform::BinaryFile out = store.open_file(temporary);
      out.write_at_start(bytes);
      out.close();
      store.move_file(temporary, target, file.back());
    } catch (...) {
      try {
        store.delete_file(temporary);
      } catch (const AutomationError&) {
      }
      throw;
    }
  }

  void write_time_stamp(const StorePath& file, double oa_date) override {
    updateTime(folder_of(file), file.back(), oa_date);
  }

  std::u16string read_setting(const StorePath& file, std::u16string_view section,
                              std::u16string_view key,
                              std::u16string_view default_value) const override {
    return ReadINI(checked(file), section, key, default_value);
  }

  void write_setting(const StorePath& file, std::u16string_view section, std::u16string_view key,
                     std::u16string_view value) override {
    if (!WriteINI(folder_of(file), file.back(), section, key, value)) {
      throw AutomationError(platform::errnum::kPathFileAccess,
                            u"The settings file was not written");
    }
  }

 private:
  // Moves name of folder to target_name of target as a round takes a drop file: see
  // move_settled. The target's handle keeps its index of names across calls.
  static bool settled_move(const ConfinedFolder& folder, const std::u16string& name,
                           const ConfinedFolder& target, const std::u16string& target_name,
                           double settle_seconds, double unseen_writers_seconds) {
    const platform::DropFolder files(folder);
    platform::DropOpenResult opened = files.open(name);
    if (opened.status == platform::DropOpenStatus::in_use) return false;
    if (opened.status != platform::DropOpenStatus::opened) throw_for(opened.status);
    platform::DropFile& file = *opened.file;
    if (file.facts().kind != EntryKind::file) throw AutomationError(platform::errnum::kFileNotFound);
    // As a round settles a drop file: where the file system tells that nobody writes it, that
    // answer decides (only an empty file, perhaps created a moment before its writer's open
    // counts, waits out settle_seconds); where it cannot tell, the file must be older than both
    // settling times.
    const platform::Writers writers = file.writers();
    const double age = file.facts().age_seconds;
    const bool young = age < settle_seconds;
    const bool complete = writers == platform::Writers::none
                              ? file.facts().size != 0 || !young
                              : writers == platform::Writers::unknown && !young &&
                                    age >= unseen_writers_seconds;
    if (!complete || !file.hold_for_move()) return false;
    // Another file or a link put at the name since the check is not moved in its place.
    if (!files.holds(name, file)) throw AutomationError(platform::errnum::kFileNotFound);
    folder.move_file(name, target, target_name, platform::MoveMethod::automatic, file.identity());
    return true;
  }

  // The failure of a file that was not opened as one.
  [[noreturn]] static void throw_for(platform::DropOpenStatus status) {
    switch (status) {
      case platform::DropOpenStatus::link:
        throw AutomationError(platform::errnum::kPathFileAccess,
                              std::u16string(platform::kLinkRefusedText));
      case platform::DropOpenStatus::in_use:
        throw AutomationError(platform::errnum::kPermissionDenied);
      default: throw AutomationError(platform::errnum::kFileNotFound);
    }
  }

  static void check_name(const std::u16string& name) {
    if (name.empty() || name == u"." || name == u".." ||
        name.find_first_of(u"/\\") != std::u16string::npos) {
      throw AutomationError(platform::errnum::kBadFileName);
    }
  }

  // The folder at place: the store folder for none, a top folder opened by its path, anything
  // deeper confined below it (75 for a link, 76 when missing).
  ConfinedFolder open_folder(const StorePath& place) const {
    for (const auto& name : place) check_name(name);
    if (place.empty()) return ConfinedFolder::open(paths_.root());
    ConfinedFolder folder = ConfinedFolder::open(paths_.child(paths_.root(), place[0]));
    for (std::size_t i = 1; i < place.size(); ++i) folder = folder.folder(place[i]);
    return folder;
  }

  // The folder that holds the last component of place.
  ConfinedFolder folder_of(const StorePath& place) const {
    if (place.empty()) throw AutomationError(platform::errnum::kBadFileName);
    check_name(place.back());
    return open_folder(StorePath(place.begin(), place.end() - 1));
  }

  // The full path of a file for the path-based settings reader; 75 when the file or a folder
  // below a top folder is a link, 52 for a component that is no plain name.
  std::u16string checked(const StorePath& file) const {
    const ConfinedFolder folder = folder_of(file);
    const auto entry = file.size() > 1 ? folder.find(file.back()) : std::nullopt;
    if (entry && entry->kind == EntryKind::link) {
      throw AutomationError(platform::errnum::kPathFileAccess,
                            std::u16string(platform::kLinkRefusedText));
    }
    return folder.child_path(file.back());
  }

  StorePaths paths_;
};

}  // namespace

std::unique_ptr<StoreAccess> open_local_store(std::u16string root) {
  return std::make_unique<LocalStore>(std::move(root));
}

}  // namespace sorter::console
