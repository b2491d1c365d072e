// Integer coercion, the portable font and ConvertFont / RetrieveFont.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "corvane/mail/integer_coercion.h"
#include "corvane/mail/portable_font.h"
#include "corvane/object_model/mail_object_model.h"
#include "tests/support/error_of.h"

namespace corvane {
namespace {

using platform::AutomationError;

using testsupport::error_of;

// Each conversion's result, or 6 (overflow) / 13 (type mismatch) as the error it raises.
TEST(IntegerCoercion, RoundsHalvesToEvenAndFailsOutsideTheIntegerRange) {
  const std::pair<int64_t, int32_t> currencies[] = {
      {82500, 8}, {105000, 10}, {115000, 12}, {97500, 10}, {105001, 11}, {-25000, -2},
      {-35000, -4}, {-12500, -1}, {0, 0}, {327674999, 32767}, {-327685000, -32768}};
  for (const auto& [cy, value] : currencies) EXPECT_EQ(integer_from_currency(cy), value) << cy;
  for (const int64_t cy : {int64_t{327675000}, int64_t{-327685001}, INT64_MIN, INT64_MAX}) {
    EXPECT_EQ(error_of([&] { integer_from_currency(cy); }), 6) << cy;
  }
  const std::pair<std::u16string, int32_t> texts[] = {
      {u"0", 0}, {u" 161 ", 161}, {u"-32768", -32768}, {u"2.5", 2}, {u"3.5", 4}, {u"1E2", 100}};
  for (const auto& [text, value] : texts) EXPECT_EQ(integer_from_text(text), value);
  const std::pair<std::u16string, int32_t> refused[] = {
      {u"", 13}, {u"   ", 13}, {u"abc", 13}, {u"12x", 13}, {u"32768", 6}, {u"1e300", 6}};
  for (const auto& [text, error] : refused) {
    EXPECT_EQ(error_of([&] { integer_from_text(text); }), error);
  }
}

TEST(PortableFont, DefaultsAndTheBoldWeightCoupling) {
  PortableFont font;
  EXPECT_EQ(font.name(), u"MS Sans Serif");
  EXPECT_EQ(font.size_cy(), 82500);
  EXPECT_EQ(font.weight(), 400);
  EXPECT_FALSE(font.bold());
  font.set_bold(true);
  EXPECT_EQ(font.weight(), 700);
  font.set_weight(550);
  EXPECT_FALSE(font.bold());
  font.set_weight(551);
  EXPECT_TRUE(font.bold());
  font.set_bold(false);
  EXPECT_EQ(font.weight(), 400);
}

// A font that records the order in which its properties are read ("get X") and set ("X").
class RecordingFont final : public FontObject {
 public:
  explicit RecordingFont(std::vector<std::string>& log) : log_(log) {}
  std::u16string name() const override { return got("Name"), font_.name(); }
  void set_name(const std::u16string& v) override { log_.push_back("Name"); font_.set_name(v); }
  int64_t size_cy() const override { return got("Size"), font_.size_cy(); }
  void set_size_cy(int64_t v) override { log_.push_back("Size"); font_.set_size_cy(v); }
  bool bold() const override { return got("Bold"), font_.bold(); }
  void set_bold(bool v) override { log_.push_back("Bold"); font_.set_bold(v); }
  bool italic() const override { return got("Italic"), font_.italic(); }
  void set_italic(bool v) override { log_.push_back("Italic"); font_.set_italic(v); }
  bool underline() const override { return got("Underline"), font_.underline(); }
  void set_underline(bool v) override { log_.push_back("Underline"); font_.set_underline(v); }
  bool strikethrough() const override { return got("Strikethrough"), font_.strikethrough(); }
  void set_strikethrough(bool v) override {
    log_.push_back("Strikethrough");
    font_.set_strikethrough(v);
  }
  int16_t weight() const override { return got("Weight"), font_.weight(); }
  void set_weight(int16_t v) override { log_.push_back("Weight"); font_.set_weight(v); }
  int16_t charset() const override { return got("Charset"), font_.charset(); }
  void set_charset(int16_t v) override { log_.push_back("Charset"); font_.set_charset(v); }

 private:
  void got(const char* name) const { log_.push_back(std::string("get ") + name); }
  std::vector<std::string>& log_;
  PortableFont font_;
};

class RecordingFactory final : public FontFactory {
 public:
  std::unique_ptr<FontObject> create() override { return std::make_unique<RecordingFont>(log); }
  std::vector<std::string> log;
};

// Every property of a font, as one text to compare.
std::string shown(const FontObject& f) {
  const std::u16string name = f.name();
  return std::string(name.begin(), name.end()) + " charset " + std::to_string(f.charset()) +
         " size " + std::to_string(f.size_cy()) + " weight " + std::to_string(f.weight()) +
         (f.bold() ? " bold" : "") + (f.italic() ? " italic" : "") +
         (f.underline() ? " underline" : "") + (f.strikethrough() ? " strikethrough" : "");
}

SaveableFont sample_font() {
  return SaveableFont{u"Courier New", u"161", kTrue, kTrue, kFalse, kTrue, 14, 800};
}

TEST(ConvertFont, CopiesEveryPropertyAndRoundsTheSize) {
  MailObjectModel model;
  PortableFont font;
  font.set_name(u"Tahoma");
  font.set_charset(-3);
  font.set_italic(true);
  font.set_underline(true);
  font.set_size_cy(105000);
  font.set_weight(900);
  const SaveableFont out = model.ConvertFont(&font);
  EXPECT_EQ(out, (SaveableFont{u"Tahoma", u"-3", kTrue, kTrue, kTrue, kFalse, 10, 900}));
  font.set_size_cy(115000);
  EXPECT_EQ(model.ConvertFont(&font).Size, 12);
}

TEST(ConvertFont, ReadsThePropertiesInTheFixedOrder) {
  std::vector<std::string> log;
  RecordingFont font(log);
  MailObjectModel model;
  (void)model.ConvertFont(&font);
  EXPECT_EQ(log, (std::vector<std::string>{"get Name", "get Bold", "get Charset", "get Italic",
                                           "get Size", "get Strikethrough", "get Underline",
                                           "get Weight"}));
}

TEST(ConvertFont, FailsForAMissingFontOrAnOversizedOne) {
  MailObjectModel model;
  try {
    (void)model.ConvertFont(nullptr);
    ADD_FAILURE() << "no error";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 91);
    EXPECT_EQ(e.description(), u"Object variable or With block variable not set");
    EXPECT_EQ(e.source(), u"Corvane.MailObjectModel");
  }
  PortableFont font;
  font.set_size_cy(327675000);
  EXPECT_EQ(error_of([&] { (void)model.ConvertFont(&font); }), 6);
  EXPECT_EQ(model.ErrorString(), u"");
}

TEST(RetrieveFont, SetsThePropertiesInTheFixedOrder) {
  auto factory = std::make_shared<RecordingFactory>();
  MailObjectModel model(make_stderr_presenter(), factory);
  const auto font = model.RetrieveFont(sample_font());
  EXPECT_EQ(factory->log, (std::vector<std::string>{"Name", "Bold", "Charset", "Italic", "Size",
                                                    "Strikethrough", "Underline", "Weight"}));
  EXPECT_EQ(shown(*font), "Courier New charset 161 size 140000 weight 800 bold underline "
                         "strikethrough");
}

TEST(RetrieveFont, TheStoredWeightWinsOverBold) {
  MailObjectModel model;
  SaveableFont saved = sample_font();
  saved.Bold = kTrue;
  saved.Weight = 400;
  EXPECT_EQ(shown(*model.RetrieveFont(saved)),
            "Courier New charset 161 size 140000 weight 400 underline strikethrough");
}

TEST(RetrieveFont, FailsOnACharsetThatIsNoInteger) {
  MailObjectModel model;
  SaveableFont saved = sample_font();
  for (const auto& [charset, error] : {std::pair{u"", 13}, {u"ANSI", 13}, {u"40000", 6}}) {
    saved.Charset = charset;
    EXPECT_EQ(error_of([&] { (void)model.RetrieveFont(saved); }), error);
  }
  EXPECT_EQ(error_of([&] { (void)model.RetrieveFont(SaveableFont{}); }), 13);
}

TEST(FontConversion, ConvertThenRetrieveKeepsWhatTheRecordCanHold) {
  MailObjectModel model;
  PortableFont original;
  original.set_name(u"Georgia");
  original.set_charset(238);
  original.set_bold(true);
  original.set_strikethrough(true);
  original.set_size_cy(97500);
  EXPECT_EQ(shown(*model.RetrieveFont(model.ConvertFont(&original))),
            "Georgia charset 238 size 100000 weight 700 bold strikethrough");
}

}  // namespace
}  // namespace corvane
