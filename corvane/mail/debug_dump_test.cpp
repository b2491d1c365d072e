// DebugTemplate and DebugEmail: the exact texts and when the debug window is shown.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include <string>
#include <vector>

#include "corvane/mail/portable_font.h"
#include "corvane/lesson/lesson_display.h"
#include "corvane/mail/debug_dump.h"
#include "corvane/object_model/mail_object_model.h"
#include "platform/automation_error.h"
#include "platform/locale_text.h"

namespace corvane {
namespace {

// Remembers what would have been shown instead of showing it.
class RecordingPresenter final : public Presenter {
 public:
  void show_debug_window(std::u16string_view text) override { shown.emplace_back(text); }
  void show_message(std::u16string_view, std::u16string_view, MessageIcon) override {}
  std::vector<std::u16string> shown;
};

class Dump : public ::testing::Test {
 protected:
  std::shared_ptr<RecordingPresenter> presenter = std::make_shared<RecordingPresenter>();
  MailObjectModel model{presenter, make_portable_font_factory()};
};

MsgPicture picture(std::u16string name, Long x, Long y, Boolean editable, Byte borders) {
  MsgPicture p;
  p.FileName = std::move(name);
  p.X = x;
  p.Y = y;
  p.Editable = editable;
  p.Borders = borders;
  p.Value = List<Byte>::sized(0, {1, 2, 3});
  return p;
}

MsgText text_box(std::u16string value) {
  MsgText t;
  t.X = 10;
  t.Y = -20;
  t.Editable = kFalse;
  t.Colour = 255;
  t.Font = SaveableFont{u"Arial", u"0", kTrue, kFalse, 1, kFalse, 9, 700};
  t.Value = std::move(value);
  t.Width = 300;
  t.Height = 45;
  return t;
}

TEST_F(Dump, EmptyAndUnsizedListsShowTheHeadingsOnly) {
  const std::u16string expected = u"Pictures\r\n\r\nTexts\r\n";
  MsgContents empty;
  empty.Texts = List<MsgText>::sized(0);
  empty.Pictures = List<MsgPicture>::sized(5);
  EXPECT_EQ(model.DebugTemplate(empty), expected);
  EXPECT_EQ(model.DebugTemplate(MsgContents{}), expected);
}

TEST_F(Dump, TemplateShowsEveryFieldWithTheListsOwnIndices) {
  MsgContents c;
  c.Pictures = List<MsgPicture>::sized(
      1, {picture(u"a.gif", 1, 2, kTrue, 0), picture(u"b.bmp", -7, 70000, kFalse, 255)});
  c.Texts = List<MsgText>::sized(-1, {text_box(u"Hello")});
  const std::u16string expected =
      u"Pictures\r\n"
      u"\t1\r\n\tBorders: 0\r\n\tEditable: True\r\n\tFileName: a.gif\r\n"
      u"\tValue cannot be displayed...\r\n\tX: 1\r\n\tY: 2\r\n"
      u"\t2\r\n\tBorders: 255\r\n\tEditable: False\r\n\tFileName: b.bmp\r\n"
      u"\tValue cannot be displayed...\r\n\tX: -7\r\n\tY: 70000\r\n"
      u"\r\n"
      u"Texts\r\n"
      u"\t-1\r\n\tColour: 255\r\n\tEditable: False\r\n\tFont \r\n"
      u"\t\tBold: True\r\n\t\tCharset: 0\r\n\t\tFontName: Arial\r\n\t\tItalic: True\r\n"
      u"\t\tSize: 9\r\n\t\tStrikeThrough: False\r\n\t\tUnderline: False\r\n\t\tWeight: 700\r\n"
      u"\tHeight: 45\r\n\tWidth: 300\r\n\tValue: Hello...\r\n\tX: 10\r\n\tY: -20\r\n";
  EXPECT_EQ(model.DebugTemplate(c), expected);
}

TEST_F(Dump, ValueShowsItsFirstTenCharactersAndAnEllipsis) {
  MsgContents c;
  c.Texts = List<MsgText>::sized(0, {text_box(u"abcdefghijklmnopqrstuvwxy"), text_box(u""),
                                     text_box(u"0123456789")});
  const std::u16string dump = model.DebugTemplate(c);
  EXPECT_NE(dump.find(u"\tValue: abcdefghij...\r\n"), std::u16string::npos);
  EXPECT_NE(dump.find(u"\tValue: ...\r\n"), std::u16string::npos);
  EXPECT_NE(dump.find(u"\tValue: 0123456789...\r\n"), std::u16string::npos);
}

// The date in the English default locale; the attachment is not shown.
TEST_F(Dump, EmailShowsItsHeadersAroundTheBody) {
  EmailMsg m;
  m.emMsg.Texts = List<MsgText>::sized(0);
  m.emMsg.Pictures = List<MsgPicture>::sized(0);
  EXPECT_EQ(model.DebugEmail(m), u"Headers\r\n-------\r\nemCC: \r\nemDate: 12:00:00 AM\r\nemFrom: "
                                 u"\r\nPictures\r\n\r\nTexts\r\n\r\nemSubject: \r\nemTo: \r\n");
  m.emCC = u"Cy";
  m.emFrom = u"Ann";
  m.emTo = u"Tom";
  m.emSubject = u"Hi";
  m.emDate = 36526.5;
  m.emRead = 1;
  m.emAttachments.FilePath = u"x.doc";
  m.emMsg.Texts = List<MsgText>::sized(0, {text_box(u"Hello")});
  EXPECT_EQ(model.DebugEmail(m),
            u"Headers\r\n-------\r\nemCC: Cy\r\nemDate: " + platform::date_text(36526.5) +
                u"\r\nemFrom: Ann\r\n" + model.DebugTemplate(m.emMsg) +
                u"\r\nemSubject: Hi\r\nemTo: Tom\r\n");
}

TEST_F(Dump, EmailWithAnImpossibleDateFails) {
  EmailMsg m;
  m.emDate = std::numeric_limits<double>::quiet_NaN();
  try {
    (void)model.DebugEmail(m);
    ADD_FAILURE() << "no error";
  } catch (const platform::AutomationError& e) {
    EXPECT_EQ(e.number(), platform::errnum::kInvalidCall);
    EXPECT_EQ(e.source(), u"Corvane.MailObjectModel");
  }
  EXPECT_TRUE(presenter->shown.empty());
}

// Only exactly True shows the window, with the whole text the operation answers, once.
TEST_F(Dump, TheWindowShowsTheWholeDumpOnlyForExactlyTrue) {
  EmailMsg m;
  m.emTo = u"Tom";
  const std::function<std::u16string(Boolean)> dumps[] = {
      [&](Boolean show) { return model.DebugTemplate(m.emMsg, show); },
      [&](Boolean show) { return model.DebugEmail(m, show); }};
  for (const auto& dump : dumps) {
    presenter->shown.clear();
    for (const Boolean not_true : {kFalse, Boolean{1}}) (void)dump(not_true);
    EXPECT_TRUE(presenter->shown.empty());
    const std::u16string text = dump(kTrue);
    EXPECT_EQ(presenter->shown, std::vector<std::u16string>{text});
  }
  (void)model.DebugTemplate(m.emMsg);
  (void)model.DebugEmail(m);
  EXPECT_EQ(presenter->shown.size(), 1u) << "not shown by default";
}

TEST_F(Dump, AHugeBodyIsDumpedWhole) {
  MsgContents c;
  c.Texts = List<MsgText>::sized(0, std::vector<MsgText>(100000, text_box(u"x")));
  const std::u16string dump = model.DebugTemplate(c);
  const auto lines = std::count(dump.begin(), dump.end(), u'\n');
  EXPECT_EQ(lines, 3 + 100000 * 17);
  EXPECT_NE(dump.find(u"\t99999\r\n"), std::u16string::npos);
}

// Written to a sink, the dumps come in bounded pieces that together are the very text the
// operations return.
TEST_F(Dump, WrittenDumpsArriveInBoundedPiecesMakingUpTheSameText) {
  EmailMsg m;
  m.emFrom = u"ann";
  m.emTo = u"bob";
  m.emDate = 38353.5;
  m.emMsg.Texts = List<MsgText>::sized(1, std::vector<MsgText>(3000, text_box(u"hello world")));
  m.emMsg.Pictures = List<MsgPicture>::sized(0, {picture(u"a.bmp", 1, 2, kTrue, 1)});
  std::u16string joined;
  std::size_t pieces = 0, largest = 0;
  const TextSink sink = [&](std::u16string_view piece) {
    joined += piece;
    ++pieces;
    largest = std::max(largest, piece.size());
    EXPECT_EQ(piece.back(), u'\n');
  };
  write_email_dump(m, sink);
  EXPECT_EQ(joined, model.DebugEmail(m));
  EXPECT_GT(pieces, 10u);
  EXPECT_LT(largest, 20000u);
  joined.clear();
  write_template_dump(m.emMsg, sink);
  EXPECT_EQ(joined, model.DebugTemplate(m.emMsg));

  EmailLesson lesson;
  LessonStep step;
  step.Choices = List<LessonChoice>::sized(0, std::vector<LessonChoice>(2000, {u"m", u"s", u"f"}));
  lesson.steps = List<LessonStep>::sized(0, {step, step});
  joined.clear();
  pieces = 0;
  const TextSink lesson_sink = [&](std::u16string_view piece) {
    joined += piece;
    ++pieces;
  };
  write_lesson_display(u"x.les", lesson, lesson_sink);
  EXPECT_EQ(joined, lesson_display_text(u"x.les", lesson));
  EXPECT_GT(pieces, 2u);
}

}  // namespace
}  // namespace corvane
