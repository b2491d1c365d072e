// Case folding for name comparisons that ignore letter case: ASCII and Latin-1 capitals map to
// their small letters, as the store's file systems compare the names the service uses.

#include "platform/file_system.h"

namespace platform {

std::u16string fold_case(std::u16string_view name) {
  std::u16string out(name);
  for (char16_t& c : out) {
    const bool ascii_capital = c >= u'A' && c <= u'Z';
    const bool latin1_capital = c >= 0xC0 && c <= 0xDE && c != 0xD7;
    if (ascii_capital || latin1_capital) c = static_cast<char16_t>(c + 0x20);
  }
  return out;
}

}  // namespace platform
