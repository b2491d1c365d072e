#pragma once
// PortableFont: a standard font object of our own, for platforms without the OLE font.
//
// It behaves like the standard font where the conversions can tell: Size is a currency value
// (points x 10000) kept as set; Bold is derived from the weight (bold above 550), and setting
// Bold sets the weight to 700 or 400, so whichever of the two is set last decides. A new font
// is the standard font's default: "MS Sans Serif", 8.25 points, weight 400, character set 0,
// no style flags.

#include <memory>

#include "corvane/mail/font_object.h"

namespace corvane {

class PortableFont final : public FontObject {
 public:
  static constexpr int16_t kNormalWeight = 400;
  static constexpr int16_t kBoldWeight = 700;
  static constexpr int16_t kBoldAbove = 550;

  std::u16string name() const override { return name_; }
  void set_name(const std::u16string& name) override { name_ = name; }
  int64_t size_cy() const override { return size_cy_; }
  void set_size_cy(int64_t size) override { size_cy_ = size; }
  bool bold() const override { return weight_ > kBoldAbove; }
  void set_bold(bool bold) override { weight_ = bold ? kBoldWeight : kNormalWeight; }
  bool italic() const override { return italic_; }
  void set_italic(bool italic) override { italic_ = italic; }
  bool underline() const override { return underline_; }
  void set_underline(bool underline) override { underline_ = underline; }
  bool strikethrough() const override { return strikethrough_; }
  void set_strikethrough(bool strikethrough) override { strikethrough_ = strikethrough; }
  int16_t weight() const override { return weight_; }
  void set_weight(int16_t weight) override { weight_ = weight; }
  int16_t charset() const override { return charset_; }
  void set_charset(int16_t charset) override { charset_ = charset; }

 private:
  std::u16string name_ = u"MS Sans Serif";
  int64_t size_cy_ = 82500;
  int16_t weight_ = kNormalWeight;
  int16_t charset_ = 0;
  bool italic_ = false;
  bool underline_ = false;
  bool strikethrough_ = false;
};

}  // namespace corvane
