// The decimal separator on POSIX systems: the numeric locale named by the environment
// (LC_ALL, then LC_NUMERIC, then LANG), read fresh on every call; '.' when none is set or the
// named locale is not installed.

#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <string>

#include "platform/locale_text.h"
#include "platform/utf.h"

namespace platform {
namespace {

const char* numeric_locale_name() {
  for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return nullptr;
}

}  // namespace

char16_t decimal_separator() {
  const char* name = numeric_locale_name();
  if (name == nullptr) return u'.';
  locale_t locale = newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return u'.';
  const char* radix = nl_langinfo_l(RADIXCHAR, locale);
  const std::u16string text = from_utf8(radix != nullptr ? radix : "");
  freelocale(locale);
  return text.size() == 1 ? text[0] : u'.';
}

}  // namespace platform
