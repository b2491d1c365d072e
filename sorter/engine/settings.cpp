#include "sorter/engine/settings.h"

#include <exception>

#include "platform/codepage.h"
#include "platform/confined_folder.h"
#include "platform/file_system.h"
#include "platform/locale_text.h"
#include "platform/profile.h"

namespace sorter {

std::u16string ReadINI(std::u16string_view file, std::u16string_view section,
                       std::u16string_view key, std::u16string_view default_value) {
  return platform::from_ansi(platform::read_profile_string(
      file, platform::to_ansi(section), platform::to_ansi(key), platform::to_ansi(default_value),
      kProfileBufferSize));
}

bool WriteINI(std::u16string_view file, std::u16string_view section, std::u16string_view key,
              std::u16string_view value) {
  try {
    platform::write_profile_string(file, platform::to_ansi(section), platform::to_ansi(key),
                                   platform::to_ansi(value));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool WriteINI(const platform::ConfinedFolder& folder, std::u16string_view name,
              std::u16string_view section, std::u16string_view key, std::u16string_view value) {
  try {
    return platform::write_profile_string(folder, name, platform::to_ansi(section),
                                          platform::to_ansi(key), platform::to_ansi(value));
  } catch (const std::exception&) {
    return false;
  }
}

std::optional<bool> text_to_boolean(std::u16string_view text) {
  const std::u16string folded = platform::fold_case(text);
  if (folded == u"true") return true;
  if (folded == u"false") return false;
  if (const auto number = platform::parse_number(text)) return *number != 0.0;
  return std::nullopt;
}

bool read_boolean_setting(std::u16string_view file, std::u16string_view section,
                          std::u16string_view key, bool default_value) {
  try {
    return text_to_boolean(ReadINI(file, section, key, default_value ? u"True" : u"False"))
        .value_or(default_value);
  } catch (const std::exception&) {
    return default_value;
  }
}

}  // namespace sorter
