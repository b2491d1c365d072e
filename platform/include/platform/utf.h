#pragma once
// Conversions between UTF-16 (text in memory) and UTF-8 (POSIX paths, console output).
// Invalid sequences become U+FFFD; nothing here throws.

#include <string>
#include <string_view>

namespace platform {

std::string to_utf8(std::u16string_view text);
std::u16string from_utf8(std::string_view text);

}  // namespace platform
