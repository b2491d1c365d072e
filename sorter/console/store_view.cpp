#include "sorter/console/store_view.h"

#include <algorithm>
#include <cstring>

#include "platform/automation_error.h"
#include "sorter/engine/store_paths.h"

namespace sorter::console {

using platform::EntryKind;

namespace {

bool is_time_stamp(std::u16string_view name) {
  return platform::fold_case(name) == platform::fold_case(kTimeStampName);
}

}  // namespace

StorePath child(StorePath folder, std::u16string name) {
  folder.push_back(std::move(name));
  return folder;
}

std::vector<StoreEntry> StoreView::entries(const StorePath& folder) const {
  try {
    return store_.list(folder);
  } catch (const platform::AutomationError&) {
    return {};
  }
}

std::vector<StoreEntry> StoreView::files(const StorePath& folder) const {
  std::vector<StoreEntry> out;
  for (StoreEntry& e : entries(folder)) {
    if (e.kind == EntryKind::file) out.push_back(std::move(e));
  }
  std::sort(out.begin(), out.end(),
            [](const StoreEntry& a, const StoreEntry& b) { return a.name < b.name; });
  return out;
}

std::vector<StoreEntry> StoreView::mails(const StorePath& folder) const {
  std::vector<StoreEntry> out = files(folder);
  std::erase_if(out, [](const StoreEntry& e) { return is_time_stamp(e.name); });
  return out;
}

std::optional<StoreEntry> StoreView::mail(const StorePath& folder, std::u16string_view name) const {
  if (is_time_stamp(name)) return std::nullopt;
  return exact(folder, name, EntryKind::file);
}

std::optional<StorePath> StoreView::fixed(const StorePath& folder, std::u16string_view name,
                                          EntryKind kind) const {
  const std::u16string folded = platform::fold_case(name);
  std::optional<StorePath> found;
  for (const StoreEntry& e : entries(folder)) {
    if (e.kind != kind) continue;
    if (e.name == name) return child(folder, e.name);
    if (!found && platform::fold_case(e.name) == folded) found = child(folder, e.name);
  }
  return found;
}

std::optional<StoreEntry> StoreView::exact(const StorePath& folder, std::u16string_view name,
                                           EntryKind kind) const {
  for (StoreEntry& e : entries(folder)) {
    if (e.kind == kind && e.name == name) return std::move(e);
  }
  return std::nullopt;
}

std::optional<StorePath> StoreView::drop_folder() const {
  return fixed({}, kDropFolderName, EntryKind::folder);
}

std::optional<StorePath> StoreView::error_folder() const {
  return fixed({}, kErrorName, EntryKind::folder);
}

std::optional<StorePath> StoreView::log_file() const {
  const auto error = error_folder();
  if (!error) return std::nullopt;
  return fixed(*error, kLogName, EntryKind::file);
}

StorePath StoreView::settings_file() const {
  if (auto found = fixed({}, u"Sorter.ini", EntryKind::file)) return *found;
  return {u"Sorter.ini"};
}

// MailBox itself may be a link the administrator made: any entry of that name but a file.
std::optional<StorePath> StoreView::mailbox_root() const {
  if (auto folder = fixed({}, kMailBoxName, EntryKind::folder)) return folder;
  const std::u16string folded = platform::fold_case(kMailBoxName);
  for (const StoreEntry& e : entries({})) {
    if (e.kind != EntryKind::file && platform::fold_case(e.name) == folded) return StorePath{e.name};
  }
  return std::nullopt;
}

Mailbox StoreView::describe(const StorePath& mailbox_root, const std::u16string& name) const {
  Mailbox box{name, child(mailbox_root, name), std::nullopt, std::nullopt};
  box.inbox = fixed(box.path, kInboxName, EntryKind::folder);
  box.buffer = fixed(box.path, kBufferName, EntryKind::folder);
  return box;
}

std::vector<Mailbox> StoreView::mailboxes() const {
  std::vector<Mailbox> boxes;
  const auto root = mailbox_root();
  if (!root) return boxes;
  for (const StoreEntry& e : entries(*root)) {
    if (e.kind == EntryKind::folder) boxes.push_back(describe(*root, e.name));
  }
  std::sort(boxes.begin(), boxes.end(),
            [](const Mailbox& a, const Mailbox& b) { return a.name < b.name; });
  return boxes;
}

std::optional<Mailbox> StoreView::mailbox(std::u16string_view listed_name) const {
  const auto root = mailbox_root();
  if (!root || !exact(*root, listed_name, EntryKind::folder)) return std::nullopt;
  return describe(*root, std::u16string(listed_name));
}

std::optional<double> StoreView::time_stamp(const StorePath& folder) const {
  const auto file = fixed(folder, kTimeStampName, EntryKind::file);
  if (!file) return std::nullopt;
  try {
    const auto bytes = store_.read(*file, 8);
    if (bytes.size() < 8) return std::nullopt;
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  } catch (const platform::AutomationError&) {
    return std::nullopt;
  }
}

}  // namespace sorter::console
