// The current local time on Windows.

#include <windows.h>

#include "platform/clock.h"

namespace platform {

double local_now_as_oa_date() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return oa_date_from_parts(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
}

}  // namespace platform
