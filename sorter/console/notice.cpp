#include "sorter/console/notice.h"

namespace sorter::console {

corvane::EmailMsg rejection_notice(const corvane::EmailMsg& rejected, const std::u16string& from,
                                   const std::u16string& note, double now) {
  corvane::EmailMsg notice;
  notice.emSignature = {'C', 'V', '1'};
  notice.emTo = rejected.emFrom;
  notice.emFrom = from;
  notice.emSubject = u"Not delivered: " + rejected.emSubject;
  corvane::MsgText box;
  box.Width = 400;
  box.Height = 300;
  box.Font.FontName = u"Arial";
  box.Font.Charset = u"0";
  box.Font.Size = 10;
  box.Font.Weight = 400;
  box.Value = note;
  notice.emMsg.Texts = corvane::List<corvane::MsgText>::sized(0, {box});
  notice.emDate = now;
  return notice;
}

}  // namespace sorter::console
