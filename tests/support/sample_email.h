#pragma once
// The sample records of the tests, one of each kind that several tests share.
//
// sample_contents(): a message body with every shape a list can take: a text list with a
// non-zero lower bound, a picture list with a negative one, a text with empty strings and a
// non-normalised flag, a picture whose bytes were never dimensioned.
// sample_email(): every field set (text outside ASCII, an attachment) around those contents.
// emTo and emFrom are the short texts "Tom" and "Ann" after a three-byte signature, so the
// first 14 bytes of its encoding end after emFrom.

#include "corvane/model/records.h"

namespace testsupport {

inline corvane::MsgContents sample_contents() {
  corvane::MsgText text;
  text.X = -120;
  text.Y = 2400;
  text.Editable = corvane::kTrue;
  text.Colour = 0x00FF8040;
  text.Font = {u"Arial", u"0", corvane::kTrue, corvane::kFalse, corvane::kTrue, corvane::kFalse,
               12, 700};
  text.Value = u"Hello\r\nWorld";
  text.Width = 3000;
  text.Height = 400;
  corvane::MsgText second = text;
  second.Value.clear();
  second.Font.FontName.clear();
  second.Editable = 5;  // kept as stored, not normalised
  corvane::MsgPicture picture;
  picture.FileName = u"logo.gif";
  picture.X = 10;
  picture.Y = 20;
  picture.Borders = 1;
  picture.Value = corvane::List<corvane::Byte>::sized(5, {0x47, 0x49, 0x46, 0x00, 0xFF});
  corvane::MsgPicture unsized_picture;  // bytes never dimensioned
  corvane::MsgContents contents;
  contents.Texts = corvane::List<corvane::MsgText>::sized(1, {text, second});
  contents.Pictures = corvane::List<corvane::MsgPicture>::sized(-2, {picture, unsized_picture});
  return contents;
}

inline corvane::EmailMsg sample_email() {
  corvane::EmailMsg m;
  m.emSignature = {0xAB, 0x00, 0x7F};
  m.emRead = 9;
  m.emTo = u"Tom";
  m.emFrom = u"Ann";
  m.emCC = u"Bob; Cy";
  m.emSubject = u"Lunch \u00e0 midi";
  m.emMsg = sample_contents();
  m.emAttachments.FilePath = u"C:\\mail\\a.doc";
  m.emDate = 45123.625;
  return m;
}

}  // namespace testsupport
