#include "sorter/engine/store_paths.h"

#include <utility>

#include "platform/file_system.h"

namespace sorter {

StorePaths::StorePaths(std::u16string program_folder)
    : StorePaths(std::move(program_folder), platform::path_separator()) {}

StorePaths::StorePaths(std::u16string program_folder, char16_t separator)
    : root_(std::move(program_folder)), sep_(separator) {}

std::u16string StorePaths::child(std::u16string_view folder, std::u16string_view name) const {
  std::u16string path;
  path.reserve(folder.size() + 1 + name.size());  // one allocation, not one per piece
  path += folder;
  path += sep_;
  path += name;
  return path;
}

std::u16string StorePaths::mailbox(std::u16string_view user) const {
  return child(child(root_, kMailBoxName), user);
}

std::u16string StorePaths::delivery_folder(std::u16string_view user, bool monitoring) const {
  return child(mailbox(user), monitoring ? kBufferName : kInboxName);
}

bool is_mailbox_name(std::u16string_view name) {
  bool only_dots_and_blanks = true;
  for (const char16_t c : name) {
    if (c == u'/' || c == u'\\' || c == u':' || c < 0x20 || c == 0x7F) return false;
    if (c != u'.' && c != u' ') only_dots_and_blanks = false;
  }
  return !only_dots_and_blanks;
}

}  // namespace sorter
