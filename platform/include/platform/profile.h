#pragma once
// Private-profile settings files: "[section]" lines followed by "key=value" lines. Section and
// key names are compared without regard to the case of the letters A to Z; values are read with the blanks around
// them removed, and with the quote marks around them when the same mark opens and closes the
// value. Of several sections of the same name only the first is read and written. All texts
// are 8-bit text in the system code page.
//
// Windows: GetPrivateProfileStringA / WritePrivateProfileStringA.
// POSIX: a reader and writer of the same format with the same results. The file name's last
// component is matched without regard to case ("sorter.ini" finds "Sorter.ini"). Comments,
// blank lines and lines the format does not know are kept byte for byte by a write; every line
// is parsed by its first 64 KiB, so a huge or damaged file costs bounded memory.

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

class ConfinedFolder;

// The value of key in section, else default_value with its trailing blanks removed; the
// result is cut to buffer_size - 1 bytes, as a NUL-terminated buffer of buffer_size bytes
// would hold it. A missing file, section or key yields the default.
std::string read_profile_string(std::u16string_view file, std::string_view section,
                                std::string_view key, std::string_view default_value,
                                std::size_t buffer_size);

// Sets key in section to value, adding the section and the key when missing and creating the
// file when missing; every other line stays as it was. Returns false when the file could not
// be written (for instance its folder does not exist); nothing is changed then.
bool write_profile_string(std::u16string_view file, std::string_view section,
                          std::string_view key, std::string_view value);

// The same write into the file name directly in folder (any letter case), never through a
// link: false, nothing written, when name is a link. The file keeps its owner, group and mode:
// on POSIX it is changed in place and flushed, as the system's writer on Windows does; one
// that cannot be (another name of the same file, no write permission) is replaced by a new
// file with its owner, group and mode, written beside it under a temporary name (see
// ConfinedFolder) and flushed, or left as it is when its owner cannot be kept.
bool write_profile_string(const ConfinedFolder& folder, std::u16string_view name,
                          std::string_view section, std::string_view key, std::string_view value);

}  // namespace platform
