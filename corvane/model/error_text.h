#pragma once
// The texts that the catching operations leave in ErrorString, and small text helpers shared
// by the operations.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/automation_error.h"
#include "platform/decimal_text.h"

namespace corvane {

using platform::decimal_text;

inline constexpr std::u16string_view kCrLf = u"\r\n";

// `<operation> Error: "<description>" (<number>)`, the form of SaveEmail and SaveTemplate.
std::u16string save_error_text(std::u16string_view operation, const platform::AutomationError& e);

// `AddAttachment Error: "<description>" & (<number>)`.
std::u16string attachment_error_text(const platform::AutomationError& e);

// `<operation>: <source>` CRLF `<description>`, the form of OpenEmail and OpenTemplate.
std::u16string open_error_text(std::u16string_view operation, const platform::AutomationError& e);

// `<description>` CRLF `<source>` CRLF `<number>`, the form of SaveLesson.
std::u16string lesson_save_error_text(const platform::AutomationError& e);

// Runs an operation body and stamps the library's source on an error that has none: errors
// from the platform and the codec are raised on the library's behalf.
template <class Body>
auto with_library_source(Body&& body) -> decltype(body());

}  // namespace corvane

#include "corvane/model/error_text_inl.h"
