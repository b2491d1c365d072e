// The store through the platform's confined folder access: the store folder and its top
// folders (MailBank, Error, MailBox) are opened by path, as the administrator may have made
// them links; every folder and file below them is reached beneath a folder handle without
// following links. Files are read through a handle opened beneath their folder's handle;
// listings and settings reads check each component below the top folders for links right
// before use.

#include <filesystem>
#include <algorithm>
#include <system_error>

#include "platform/automation_error.h"
#include "platform/confined_folder.h"
#include "platform/drop_file.h"
#include "platform/utf.h"
#include "sorter/console/store_access.h"
#include "sorter/engine/settings.h"
#include "sorter/engine/store_paths.h"
#include "sorter/engine/time_stamp.h"

namespace sorter::console {
namespace {

namespace fs = std::filesystem;
using platform::AutomationError;
using platform::ConfinedFolder;
using platform::EntryKind;

class LocalStore final : public StoreAccess {
 public:
  explicit LocalStore(std::u16string root) : paths_(std::move(root)) {}

  std::vector<StoreEntry> list(const StorePath& folder) const override {
    const std::u16string path = checked(folder);
    std::vector<StoreEntry> entries;
    platform::FolderReader reader(path);
    while (auto e = reader.next()) {
      StoreEntry entry{e->name, e->kind, 0, std::nullopt};
      if (e->kind == EntryKind::file) {
        const std::u16string file = paths_.child(path, e->name);
        std::error_code ec;
        entry.size = fs::file_size(fs::path(file), ec);
        if (ec) entry.size = 0;
        entry.age_seconds = platform::seconds_since_last_write(file);
      }
      entries.push_back(std::move(entry));
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
    switch (opened.status) {
      case platform::DropOpenStatus::opened: break;
      case platform::DropOpenStatus::link:
        throw AutomationError(platform::errnum::kPathFileAccess,
                              std::u16string(platform::kLinkRefusedText));
      case platform::DropOpenStatus::in_use:
        throw AutomationError(platform::errnum::kPermissionDenied);
      case platform::DropOpenStatus::gone: throw AutomationError(platform::errnum::kFileNotFound);
    }
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

  void remove(const StorePath& file) override {
    const ConfinedFolder folder = folder_of(file);
    const auto entry = folder.find(file.back());
    if (!entry || entry->kind != EntryKind::file) {
      throw AutomationError(platform::errnum::kFileNotFound);
    }
    folder.delete_file(entry->name);
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
  static void check_name(const std::u16string& name) {
    if (name.empty() || name == u"." || name == u".." ||
        name.find_first_of(u"/\\") != std::u16string::npos) {
      throw AutomationError(platform::errnum::kBadFileName);
    }
  }

  // The folder that holds the last component of place, opened confined below the top folder.
  ConfinedFolder folder_of(const StorePath& place) const {
    if (place.empty()) throw AutomationError(platform::errnum::kBadFileName);
    for (const auto& name : place) check_name(name);
    if (place.size() == 1) return ConfinedFolder::open(paths_.root());
    ConfinedFolder folder = ConfinedFolder::open(paths_.child(paths_.root(), place[0]));
    for (std::size_t i = 1; i + 1 < place.size(); ++i) folder = folder.folder(place[i]);
    return folder;
  }

  // The full path of a place; 75 when a component below a top folder is a link, 52 for a
  // component that is no plain name.
  std::u16string checked(const StorePath& place) const {
    std::u16string path = paths_.root();
    for (std::size_t i = 0; i < place.size(); ++i) {
      check_name(place[i]);
      path = paths_.child(path, place[i]);
      std::error_code ec;
      if (i > 0 && fs::symlink_status(fs::path(path), ec).type() == fs::file_type::symlink) {
        throw AutomationError(platform::errnum::kPathFileAccess,
                              std::u16string(platform::kLinkRefusedText));
      }
    }
    return path;
  }

  StorePaths paths_;
};

}  // namespace

std::unique_ptr<StoreAccess> open_local_store(std::u16string root) {
  return std::make_unique<LocalStore>(std::move(root));
}

}  // namespace sorter::console
