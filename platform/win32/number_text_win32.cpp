// The decimal separator on Windows: the user locale's LOCALE_SDECIMAL, '.' when it cannot be
// read.

#include <windows.h>

#include "platform/locale_text.h"

namespace platform {

char16_t decimal_separator() {
  wchar_t buffer[8] = {};
  const int length = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, 8);
  if (length < 2 || buffer[0] == L'\0') return u'.';
  return static_cast<char16_t>(buffer[0]);
}

}  // namespace platform
