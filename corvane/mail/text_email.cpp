#include "corvane/mail/text_email.h"

#include <utility>

namespace corvane {

EmailMsg text_email(Text from, Text to, Text subject, Text text, double date) {
  EmailMsg email;
  email.emSignature = {'C', 'V', '1'};
  email.emTo = std::move(to);
  email.emFrom = std::move(from);
  email.emSubject = std::move(subject);
  MsgText box;
  box.Width = 400;
  box.Height = 300;
  box.Font.FontName = u"Arial";
  box.Font.Charset = u"0";
  box.Font.Size = 10;
  box.Font.Weight = 400;
  box.Value = std::move(text);
  email.emMsg.Texts = List<MsgText>::sized(0, {box});
  email.emDate = date;
  return email;
}

}  // namespace corvane
