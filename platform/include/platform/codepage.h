#pragma once
// Conversion between UTF-16 text and the system's ANSI code page, the encoding of every text
// in record files and lesson CSV files.
//
// Windows: CP_ACP through WideCharToMultiByte / MultiByteToWideChar, with the system's best-fit
// replacement of characters the code page lacks.
// POSIX: Windows-1252 unless the environment variable CORVANE_CODEPAGE names another encoding
// that iconv converts (a name it does not know leaves Windows-1252 in force); a character the code page lacks is replaced as the Windows conversion's best-fit
// table replaces it (another code page: by iconv's transliteration), else by "?".
// Byte-for-byte reversible for every byte value in Windows-1252 (the five unassigned bytes map
// to U+0081, U+008D, U+008F, U+0090, U+009D as on Windows).

#include <string>
#include <string_view>

namespace platform {

std::string to_ansi(std::u16string_view text);
std::u16string from_ansi(std::string_view bytes);

// The name of the code page in use, for diagnostics ("windows-1252", "CP1252", ...).
std::string ansi_code_page_name();

}  // namespace platform
