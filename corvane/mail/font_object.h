#pragma once
// The standard font object as the font conversions see it: the properties of the OLE standard
// font, read and set one by one. The Windows server wraps the real OLE font (by dispatch
// identifier); PortableFont is our own implementation that behaves like it elsewhere.
//
// Size is in points as a currency value (fixed point, four decimals: 10.5 pt is 105000).
// Setting Weight also sets Bold (weight > 550 is bold), and setting Bold sets Weight to 700 or
// 400, as the standard font does; whichever is set last wins.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace corvane {

class FontObject {
 public:
  virtual ~FontObject() = default;

  virtual std::u16string name() const = 0;
  virtual void set_name(const std::u16string& name) = 0;
  virtual int64_t size_cy() const = 0;  // points x 10000
  virtual void set_size_cy(int64_t size) = 0;
  virtual bool bold() const = 0;
  virtual void set_bold(bool bold) = 0;
  virtual bool italic() const = 0;
  virtual void set_italic(bool italic) = 0;
  virtual bool underline() const = 0;
  virtual void set_underline(bool underline) = 0;
  virtual bool strikethrough() const = 0;
  virtual void set_strikethrough(bool strikethrough) = 0;
  virtual int16_t weight() const = 0;
  virtual void set_weight(int16_t weight) = 0;
  virtual int16_t charset() const = 0;
  virtual void set_charset(int16_t charset) = 0;
  // Sets Charset from a text that the font object converts to its number. By default the text
  // is read by the automation runtime's rule for Integers (integer_from_text); the Windows font
  // converts it through the system's own coercion in the user's locale.
  virtual void set_charset_text(std::u16string_view text);
};

// Creates new standard font objects (class StdFont on Windows).
class FontFactory {
 public:
  virtual ~FontFactory() = default;
  virtual std::unique_ptr<FontObject> create() = 0;
};

std::shared_ptr<FontFactory> make_portable_font_factory();

}  // namespace corvane
