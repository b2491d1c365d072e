#pragma once
// The two private-profile routines of the sorter and the text-to-boolean rule of its settings.

#include <optional>
#include <string>
#include <string_view>

namespace platform {
class ConfinedFolder;
}

namespace sorter {

// Values are read through a buffer of this many characters: at most 499 come back.
inline constexpr std::size_t kProfileBufferSize = 500;

// The value of key in section of file, cut to 499 characters; default_value when the file,
// the section or the key is missing. Failures reach the caller.
std::u16string ReadINI(std::u16string_view file, std::u16string_view section,
                       std::u16string_view key, std::u16string_view default_value);

// Writes the value; True when the write was attempted, whatever its outcome (a write into a
// missing folder is lost without a report), False only when a failure interrupted it.
bool WriteINI(std::u16string_view file, std::u16string_view section, std::u16string_view key,
              std::u16string_view value);

// The same write into the file name directly in folder, never through a link: a link there
// is not written (False then).
bool WriteINI(const platform::ConfinedFolder& folder, std::u16string_view name,
              std::u16string_view section, std::u16string_view key, std::u16string_view value);

// "True" or "False" in any letter case, or a number (0 false, any other true); no value for
// any other text.
std::optional<bool> text_to_boolean(std::u16string_view text);

// A boolean setting; default_value when the file, the section or the key is missing, when
// the read fails or the text is no boolean.
bool read_boolean_setting(std::u16string_view file, std::u16string_view section,
                          std::u16string_view key, bool default_value = false);

}  // namespace sorter
