// SaveTemplate and OpenTemplate: round trips, the file layout and the ErrorString formats.

#include <gtest/gtest.h>

#include <filesystem>

#include "corvane/object_model/mail_object_model.h"
#include "tests/support/bytes.h"
#include "tests/support/temp_dir.h"

namespace corvane {
namespace {

using testsupport::Bytes;
using testsupport::read_bytes;
using testsupport::TempDir;
using testsupport::u16;
using testsupport::write_bytes;

MsgContents sample_template() {
  MsgText text;
  text.X = -5;
  text.Y = 70000;
  text.Editable = kTrue;
  text.Colour = 0xFF00FF;
  text.Font = SaveableFont{u"Arial", u"0", kTrue, kFalse, kTrue, kFalse, 12, 700};
  text.Value = u"Dear \u00e9mile,\r\nsee you";
  text.Width = 300;
  text.Height = 40;
  MsgPicture picture;
  picture.FileName = u"logo.gif";
  picture.Borders = 2;
  picture.Value = List<Byte>::sized(0, {0x47, 0x49, 0x46});
  MsgContents contents;
  contents.Texts = List<MsgText>::sized(1, {text, MsgText{}});
  contents.Pictures = List<MsgPicture>::sized(-2, {picture});
  return contents;
}

// Failures write their message to ErrorString; a save and an open that succeed keep it.
TEST(Template, RoundTripsAndFailuresWithTheirMessages) {
  TempDir dir;
  MailObjectModel model;
  const auto path = u16(dir / "t.tpl");
  const auto save_and_open = [&] {
    ASSERT_TRUE(model.SaveTemplate(path, sample_template()));
    EXPECT_EQ(model.OpenTemplate(path), sample_template());
  };
  save_and_open();
  EXPECT_EQ(model.ErrorString(), u"");
  EXPECT_FALSE(model.SaveTemplate(u16(dir / "missing" / "t.tpl"), sample_template()));
  EXPECT_EQ(model.ErrorString(), u"SaveTemplate Error: \"Path not found\" (76)");
  save_and_open();
  EXPECT_EQ(model.ErrorString(), u"SaveTemplate Error: \"Path not found\" (76)");

  const MsgContents back = model.OpenTemplate(u16(dir / "missing" / "t.tpl"));
  EXPECT_EQ(back, MsgContents{});
  EXPECT_FALSE(back.Texts.is_sized());
  EXPECT_EQ(model.ErrorString(), u"OpenTemplate: Corvane.MailObjectModel\r\nPath not found");
  save_and_open();
  EXPECT_EQ(model.ErrorString(), u"OpenTemplate: Corvane.MailObjectModel\r\nPath not found");
}

TEST(Template, DamagedFileGivesWhatWasReadAndAMessage) {
  TempDir dir;
  MailObjectModel model;
  const auto path = dir / "bad.tpl";
  // One text box, then a picture list claiming two dimensions.
  Bytes bytes;
  bytes.list(1, 0).i32(1).i32(2).i16(0).i32(3);           // X, Y, Editable, Colour
  bytes.text("Arial").text("0").i16(0).i16(0).i16(0).i16(0).i16(8).i16(400);
  bytes.text("hi").i32(10).i32(20);                        // Value, Width, Height
  bytes.u16(2).u32(1).i32(0);
  write_bytes(path, bytes);
  const MsgContents back = model.OpenTemplate(u16(path));
  ASSERT_EQ(back.Texts.size(), 1u);
  EXPECT_EQ(back.Texts.at(0).Value, u"hi");
  EXPECT_EQ(back.Texts.at(0).Height, 20);
  EXPECT_FALSE(back.Pictures.is_sized());
  const std::u16string_view expected =
      u"OpenTemplate: Corvane.MailObjectModel\r\nBad record length";
  EXPECT_EQ(model.ErrorString().rfind(expected, 0), 0u);
}

}  // namespace
}  // namespace corvane
