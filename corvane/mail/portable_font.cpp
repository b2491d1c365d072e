// The factory of portable standard font objects, and the portable reading of a Charset text.

#include "corvane/mail/portable_font.h"

#include "corvane/mail/integer_coercion.h"

namespace corvane {

void FontObject::set_charset_text(std::u16string_view text) {
  set_charset(integer_from_text(text));
}

namespace {

class PortableFontFactory final : public FontFactory {
 public:
  std::unique_ptr<FontObject> create() override { return std::make_unique<PortableFont>(); }
};

}  // namespace

std::shared_ptr<FontFactory> make_portable_font_factory() {
  return std::make_shared<PortableFontFactory>();
}

}  // namespace corvane
