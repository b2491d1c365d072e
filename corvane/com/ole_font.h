#pragma once
// The OLE standard font (StdFont) as the core's FontObject: properties read and set through
// the font's dispatch interface by dispatch identifier.

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <memory>

#include "corvane/com/unique_resource.h"
#include "corvane/mail/font_object.h"

namespace corvane::com {

class OleFont final : public FontObject {
 public:
  explicit OleFont(com_ptr<IDispatch> font) : font_(std::move(font)) {}

  // The font's dispatch interface, for handing the font to a COM caller.
  com_ptr<IFontDisp> font_disp() const;

  std::u16string name() const override;
  void set_name(const std::u16string& name) override;
  int64_t size_cy() const override;
  void set_size_cy(int64_t size) override;
  bool bold() const override;
  void set_bold(bool bold) override;
  bool italic() const override;
  void set_italic(bool italic) override;
  bool underline() const override;
  void set_underline(bool underline) override;
  bool strikethrough() const override;
  void set_strikethrough(bool strikethrough) override;
  int16_t weight() const override;
  void set_weight(int16_t weight) override;
  int16_t charset() const override;
  void set_charset(int16_t charset) override;
  // The text is converted as the font converts a value put into a property: the system's
  // coercion in the user's locale ("&H80" is 128); a text it refuses is the font's failure.
  void set_charset_text(std::u16string_view text) override;

 private:
  // Reads a property converted to the given type; throws AutomationError on failure.
  VARIANT get(DISPID id, VARTYPE type) const;
  bool get_bool(DISPID id) const;
  int16_t get_i2(DISPID id) const;
  void set(DISPID id, VARIANT value);

  com_ptr<IDispatch> font_;
};

// Wraps a caller's font object; null for a null pointer.
std::unique_ptr<FontObject> wrap_ole_font(IDispatch* font);

// Creates new standard font objects, starting as MS Sans Serif 8.25 points like a new StdFont.
std::shared_ptr<FontFactory> make_ole_font_factory();

}  // namespace corvane::com
