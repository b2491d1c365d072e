#include "platform/automation_error.h"

#include "platform/utf.h"

namespace platform {

std::u16string standard_description(int32_t number) {
  switch (number) {
    case 3: return u"Return without GoSub";
    case 5: return u"Invalid procedure call or argument";
    case 6: return u"Overflow";
    case 7: return u"Out of memory";
    case 9: return u"Subscript out of range";
    case 11: return u"Division by zero";
    case 13: return u"Type mismatch";
    case 52: return u"Bad file name or number";
    case 53: return u"File not found";
    case 54: return u"Bad file mode";
    case 55: return u"File already open";
    case 57: return u"Device I/O error";
    case 58: return u"File already exists";
    case 59: return u"Bad record length";
    case 61: return u"Disk full";
    case 62: return u"Input past end of file";
    case 67: return u"Too many files";
    case 68: return u"Device unavailable";
    case 70: return u"Permission denied";
    case 71: return u"Disk not ready";
    case 75: return u"Path/File access error";
    case 76: return u"Path not found";
    case 91: return u"Object variable or With block variable not set";
    case 424: return u"Object required";
    case 429: return u"ActiveX component can't create object";
    default: return u"Application-defined or object-defined error";
  }
}

AutomationError::AutomationError(int32_t number, std::u16string description,
                                 std::u16string source)
    : number_(number),
      description_(description.empty() ? standard_description(number) : std::move(description)),
      source_(std::move(source)),
      what_("error " + std::to_string(number) + ": " + to_utf8(description_)) {}

AutomationError& AutomationError::with_source_if_empty(std::u16string_view source) {
  if (source_.empty()) source_ = source;
  return *this;
}

}  // namespace platform
