// Private-profile files on Windows: the system's own ANSI routines. The file name is given to
// them in the ANSI code page, as every other text of the call.

#include <windows.h>

#include <vector>

#include "platform/automation_error.h"
#include "platform/codepage.h"
#include "platform/confined_folder.h"
#include "platform/profile.h"

namespace platform {

std::string read_profile_string(std::u16string_view file, std::string_view section,
                                std::string_view key, std::string_view default_value,
                                std::size_t buffer_size) {
  if (buffer_size == 0) return {};
  const std::string path = to_ansi(file);
  const std::string s(section), k(key), d(default_value);
  std::vector<char> buffer(buffer_size, '\0');
  const DWORD n = GetPrivateProfileStringA(s.c_str(), k.c_str(), d.c_str(), buffer.data(),
                                           static_cast<DWORD>(buffer_size), path.c_str());
  return std::string(buffer.data(), n < buffer_size ? n : buffer_size - 1);
}

bool write_profile_string(std::u16string_view file, std::string_view section,
                          std::string_view key, std::string_view value) {
  // A line break in a name or value would forge further lines; a ']' would end the header.
  const auto breaks = [](std::string_view t) { return t.find_first_of("\r\n") != t.npos; };
  if (breaks(section) || breaks(key) || breaks(value) || section.find(']') != section.npos ||
      key.find('=') != key.npos || key.find_first_not_of(" \t") == key.npos) {
    return false;
  }
  const std::string path = to_ansi(file);
  const std::string s(section), k(key), v(value);
  return WritePrivateProfileStringA(s.c_str(), k.c_str(), v.c_str(), path.c_str()) != FALSE;
}

bool write_profile_string(const ConfinedFolder& folder, std::u16string_view name,
                          std::string_view section, std::string_view key, std::string_view value) {
  std::optional<ConfinedFolder::Entry> entry;
  try {
    entry = folder.find(name);
  } catch (const AutomationError&) {
    return false;
  }
  if (entry && entry->kind != EntryKind::file) return false;  // never through a reparse point
  return write_profile_string(folder.child_path(entry ? entry->name : std::u16string(name)),
                              section, key, value);
}

}  // namespace platform
