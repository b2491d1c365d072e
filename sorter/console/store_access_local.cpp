// The interim store access: the engine's platform functions, each path checked component by
// component for links right before use.

#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/automation_error.h"
#include "platform/utf.h"
#include "sorter/console/store_access.h"
#include "sorter/engine/settings.h"
#include "sorter/engine/store_paths.h"
#include "sorter/engine/time_stamp.h"

namespace sorter::console {
namespace {

namespace fs = std::filesystem;
using platform::AutomationError;
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
        entry.size = fs::file_size(fs_path(file), ec);
        if (ec) entry.size = 0;
        entry.age_seconds = platform::seconds_since_last_write(file);
      }
      entries.push_back(std::move(entry));
    }
    return entries;
  }

  std::vector<std::uint8_t> read(const StorePath& file, std::size_t max_bytes,
                                 bool tail) const override {
    const std::u16string path = checked(file);
    if (!is_regular(path)) throw AutomationError(platform::errnum::kFileNotFound);
    std::ifstream in(fs_path(path), std::ios::binary);
    if (!in) throw AutomationError(platform::errnum::kPermissionDenied);
    in.seekg(0, std::ios::end);
    const auto size = static_cast<std::uint64_t>(in.tellg());
    const std::uint64_t start = tail && size > max_bytes ? size - max_bytes : 0;
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(size - start, max_bytes));
    std::vector<std::uint8_t> bytes(count);
    in.seekg(static_cast<std::streamoff>(start));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
  }

  void move(const StorePath& from, const StorePath& to) override {
    const std::u16string source = checked(from);
    if (!is_regular(source)) throw AutomationError(platform::errnum::kFileNotFound);
    platform::move_file_no_replace(source, checked(to));
  }

  void remove(const StorePath& file) override {
    const std::u16string path = checked(file);
    if (!is_regular(path)) throw AutomationError(platform::errnum::kFileNotFound);
    platform::delete_file_forced(path);
  }

  void write_time_stamp(const StorePath& file, double oa_date) override {
    updateTime(checked(file), oa_date);
  }

  std::u16string read_setting(const StorePath& file, std::u16string_view section,
                              std::u16string_view key,
                              std::u16string_view default_value) const override {
    return ReadINI(checked(file), section, key, default_value);
  }

  void write_setting(const StorePath& file, std::u16string_view section, std::u16string_view key,
                     std::u16string_view value) override {
    WriteINI(checked(file), section, key, value);
  }

 private:
  static fs::path fs_path(const std::u16string& path) { return fs::path(path); }

  static bool is_regular(const std::u16string& path) {
    std::error_code ec;
    return fs::symlink_status(fs_path(path), ec).type() == fs::file_type::regular;
  }

  // The full path of a place; throws 75 when a component below the store folder is a link
  // (MailBox itself excepted) and 52 for a component that is no plain name.
  std::u16string checked(const StorePath& place) const {
    std::u16string path = paths_.root();
    for (std::size_t i = 0; i < place.size(); ++i) {
      const std::u16string& name = place[i];
      if (name.empty() || name == u"." || name == u".." ||
          name.find_first_of(u"/\\") != std::u16string::npos) {
        throw AutomationError(platform::errnum::kBadFileName);
      }
      path = paths_.child(path, name);
      const bool admin_link =
          i == 0 && platform::fold_case(name) == platform::fold_case(kMailBoxName);
      std::error_code ec;
      if (!admin_link && fs::symlink_status(fs_path(path), ec).type() == fs::file_type::symlink) {
        throw AutomationError(platform::errnum::kPathFileAccess,
                              u"\"" + name + u"\" is a link; the console does not follow it");
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
