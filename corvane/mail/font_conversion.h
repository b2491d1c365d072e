#pragma once
// Between the standard font object and the SaveableFont record. Both directions handle the
// properties in one fixed order (Name, Bold, Charset, Italic, Size, Strikethrough, Underline,
// Weight); on a font that couples Bold and Weight the order decides the outcome. Failures throw
// platform::AutomationError with the library's source.

#include <memory>

#include "corvane/mail/font_object.h"
#include "corvane/model/records.h"

namespace corvane {

// The record of a font; a null font fails with error 91 (object variable not set), as reading
// a property of a missing object does.
SaveableFont convert_font(const FontObject* font);

// A new font object from fonts, with the record's properties.
std::unique_ptr<FontObject> retrieve_font(const SaveableFont& record, FontFactory& fonts);

}  // namespace corvane
