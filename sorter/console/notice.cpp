#include "sorter/console/notice.h"

#include "corvane/mail/text_email.h"

namespace sorter::console {

corvane::EmailMsg rejection_notice(const corvane::EmailMsg& rejected, const std::u16string& from,
                                   const std::u16string& note, double now) {
  return corvane::text_email(from, rejected.emFrom, u"Not delivered: " + rejected.emSubject,
                             note, now);
}

}  // namespace sorter::console
