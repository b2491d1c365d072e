// The current local time on POSIX systems, through the C library's time zone rules.

#include <time.h>

#include "platform/automation_error.h"
#include "platform/clock.h"

namespace platform {

double local_now_as_oa_date() {
  const time_t now = time(nullptr);
  struct tm local {};
  if (now == static_cast<time_t>(-1) || localtime_r(&now, &local) == nullptr) {
    throw AutomationError(errnum::kInvalidCall, u"The local time is not available");
  }
  // A leap second is shown as the last ordinary second of its minute.
  const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
  return oa_date_from_parts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                            local.tm_min, second);
}

}  // namespace platform
