#pragma once
// An e-mail with every field set (a non-zero lower bound, text outside ASCII, an attachment),
// for the tests of the record files and of the e-mail operations. emTo and emFrom are the short
// texts "Tom" and "Ann", so the first 14 bytes of its encoding end after emFrom.

#include "corvane/model/records.h"

namespace testsupport {

inline corvane::EmailMsg sample_email() {
  corvane::EmailMsg m;
  m.emSignature = {0xAB, 0x00, 0x7F};
  m.emRead = 9;
  m.emTo = u"Tom";
  m.emFrom = u"Ann";
  m.emCC = u"Bob; Cy";
  m.emSubject = u"Lunch \u00e0 midi";
  m.emMsg.Texts = corvane::List<corvane::MsgText>::sized(3, {corvane::MsgText{}});
  m.emMsg.Texts.at(3).Value = u"A body long enough to make this file longer than an empty e-mail";
  m.emAttachments.FilePath = u"C:\\mail\\a.doc";
  m.emDate = 45123.625;
  return m;
}

}  // namespace testsupport
