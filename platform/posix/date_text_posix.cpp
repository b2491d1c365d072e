// Boolean and date texts on POSIX systems: the automation runtime's English defaults, the
// short date M/d/yyyy and the long time h:mm:ss AM/PM.

#include <string>

#include "platform/locale_text.h"
#include "platform/oa_date.h"

namespace platform {
namespace {

void append_number(std::string& out, int value, bool two_digits) {
  if (two_digits && value < 10) out += '0';
  out += std::to_string(value);
}

std::string short_date(const OaDateParts& p) {
  std::string out;
  append_number(out, p.month, false);
  out += '/';
  append_number(out, p.day, false);
  out += '/';
  out += std::to_string(p.year);
  return out;
}

std::string long_time(const OaDateParts& p) {
  const int hour12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
  std::string out;
  append_number(out, hour12, false);
  out += ':';
  append_number(out, p.minute, true);
  out += ':';
  append_number(out, p.second, true);
  out += p.hour < 12 ? " AM" : " PM";
  return out;
}

std::u16string ascii_to_u16(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace

std::u16string boolean_text(bool value) { return value ? u"True" : u"False"; }

std::u16string date_text(double oa_date) {
  const OaDateParts parts = oa_date_parts(oa_date);
  if (parts.day_zero()) return ascii_to_u16(long_time(parts));
  if (parts.midnight()) return ascii_to_u16(short_date(parts));
  return ascii_to_u16(short_date(parts) + ' ' + long_time(parts));
}

}  // namespace platform
