#pragma once
// How the operations fail: the library's source on their errors, failures answered as values,
// and the texts that the catching operations leave in ErrorString.

#include <cstdint>
#include <optional>
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
// from the platform and the codec are raised on the library's behalf. Running out of memory
// becomes error 7.
template <class Body>
auto with_library_source(Body&& body) -> decltype(body());

// An operation's failure, answered as a value; empty when the operation succeeded.
using Failure = std::optional<platform::AutomationError>;

// Runs body as with_library_source does and answers its failure instead of throwing it.
template <class Body>
Failure failure_of(Body&& body);

}  // namespace corvane

#include "corvane/model/error_text_inl.h"
