#pragma once
// Conversions between UTF-16 (text in memory) and UTF-8 (POSIX paths, console output).
// Nothing here throws. A byte that is not part of valid UTF-8 becomes the lone surrogate
// U+DC00 + byte, and to_utf8 turns those back into the byte: a POSIX file name, which may be
// any bytes, survives the trip through UTF-16 unchanged. Other lone surrogates become U+FFFD.

#include <string>
#include <string_view>

namespace platform {

std::string to_utf8(std::u16string_view text);
std::u16string from_utf8(std::string_view text);

}  // namespace platform
