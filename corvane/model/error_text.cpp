#include "corvane/model/error_text.h"

#include <string>

namespace corvane {

std::u16string save_error_text(std::u16string_view operation, const platform::AutomationError& e) {
  return std::u16string(operation) + u" Error: \"" + e.description() + u"\" (" +
         decimal_text(e.number()) + u")";
}

std::u16string attachment_error_text(const platform::AutomationError& e) {
  return u"AddAttachment Error: \"" + e.description() + u"\" & (" + decimal_text(e.number()) +
         u")";
}

std::u16string open_error_text(std::u16string_view operation, const platform::AutomationError& e) {
  return std::u16string(operation) + u": " + e.source() + std::u16string(kCrLf) + e.description();
}

std::u16string lesson_save_error_text(const platform::AutomationError& e) {
  return e.description() + std::u16string(kCrLf) + e.source() + std::u16string(kCrLf) +
         decimal_text(e.number());
}

}  // namespace corvane
