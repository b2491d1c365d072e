// ConvertFont and RetrieveFont: between the standard font object and the SaveableFont record.
// Both handle the properties in one fixed order (Name, Bold, Charset, Italic, Size,
// Strikethrough, Underline, Weight); on a font that couples Bold and Weight the order decides
// the outcome, so it is kept exactly.

#include "corvane/mail/integer_coercion.h"
#include "corvane/model/error_text.h"
#include "corvane/model/mail_object_model.h"

namespace corvane {
namespace {

// The runtime's "Object variable or With block variable not set".
constexpr int32_t kObjectNotSet = 91;

Boolean to_boolean(bool value) { return value ? kTrue : kFalse; }

}  // namespace

SaveableFont MailObjectModel::ConvertFont(const FontObject* argFont) {
  return with_library_source([&] {
    // Reading a property of a missing object is what fails first, so that is the error.
    if (argFont == nullptr) throw platform::AutomationError(kObjectNotSet);
    SaveableFont out;
    out.FontName = argFont->name();
    out.Bold = to_boolean(argFont->bold());
    out.Charset = decimal_text(argFont->charset());
    out.Italic = to_boolean(argFont->italic());
    out.Size = integer_from_currency(argFont->size_cy());
    out.Strikethrough = to_boolean(argFont->strikethrough());
    out.Underline = to_boolean(argFont->underline());
    out.Weight = argFont->weight();
    return out;
  });
}

std::unique_ptr<FontObject> MailObjectModel::RetrieveFont(const SaveableFont& argFont) {
  return with_library_source([&] {
    auto font = fonts().create();
    font->set_name(argFont.FontName);
    font->set_bold(argFont.Bold != kFalse);
    font->set_charset_text(argFont.Charset);
    font->set_italic(argFont.Italic != kFalse);
    font->set_size_cy(static_cast<int64_t>(argFont.Size) * 10000);
    font->set_strikethrough(argFont.Strikethrough != kFalse);
    font->set_underline(argFont.Underline != kFalse);
    font->set_weight(argFont.Weight);
    return font;
  });
}

}  // namespace corvane
