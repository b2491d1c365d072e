#include "corvane/mail/font_conversion.h"

#include "corvane/mail/integer_coercion.h"
#include "corvane/model/error_text.h"

namespace corvane {
namespace {

// The runtime's "Object variable or With block variable not set".
constexpr int32_t kObjectNotSet = 91;

Boolean to_boolean(bool value) { return value ? kTrue : kFalse; }

}  // namespace

SaveableFont convert_font(const FontObject* font) {
  return with_library_source([&] {
    // Reading a property of a missing object is what fails first, so that is the error.
    if (font == nullptr) throw platform::AutomationError(kObjectNotSet);
    SaveableFont out;
    out.FontName = font->name();
    out.Bold = to_boolean(font->bold());
    out.Charset = decimal_text(font->charset());
    out.Italic = to_boolean(font->italic());
    out.Size = integer_from_currency(font->size_cy());
    out.Strikethrough = to_boolean(font->strikethrough());
    out.Underline = to_boolean(font->underline());
    out.Weight = font->weight();
    return out;
  });
}

std::unique_ptr<FontObject> retrieve_font(const SaveableFont& record, FontFactory& fonts) {
  return with_library_source([&] {
    auto font = fonts.create();
    font->set_name(record.FontName);
    font->set_bold(record.Bold != kFalse);
    font->set_charset_text(record.Charset);
    font->set_italic(record.Italic != kFalse);
    font->set_size_cy(static_cast<int64_t>(record.Size) * 10000);
    font->set_strikethrough(record.Strikethrough != kFalse);
    font->set_underline(record.Underline != kFalse);
    font->set_weight(record.Weight);
    return font;
  });
}

}  // namespace corvane
