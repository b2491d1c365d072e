#pragma once
// The current local date and time as an OLE automation date (days since 30 December 1899,
// the fraction being the time of day), in whole seconds.

namespace platform {

double local_now_as_oa_date();

// Converts a broken-down local date and time to an OLE automation date (proleptic Gregorian).
// Before 30 December 1899 the time is counted forwards from the start of the day (29 December
// 1899 06:00 is -1.25). Throws AutomationError 5 for a date or time that does not exist or a
// year outside 100..9999.
double oa_date_from_parts(int year, int month, int day, int hour, int minute, int second);

}  // namespace platform
