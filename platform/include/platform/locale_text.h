#pragma once
// Locale-dependent text of the user's regional settings: numbers, Booleans and dates as the
// automation runtime writes and reads them.
//
// Windows: the user's locale (LOCALE_USER_DEFAULT) through the automation conversions.
// POSIX: the locale named by LC_ALL / LC_NUMERIC / LC_TIME / LANG for the decimal separator;
// Booleans are "True"/"False"; dates use the United States short date (M/d/yyyy) and long
// time (h:mm:ss AM/PM), the automation runtime's defaults on an English system.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The decimal separator of the user's locale ('.' or ',' mostly).
char16_t decimal_separator();

// The locale-aware numeric test and conversion of the automation runtime, restricted to plain
// decimal forms: blanks (spaces, tabs) before and after, an optional sign, digits with at most
// one decimal separator (of the user's locale), an optional exponent (E or e, optional sign,
// digits). At least one digit. Returns no value for anything else, an empty or blank text included.
std::optional<double> parse_number(std::u16string_view text);
// The same with a given decimal separator, for callers that parse many texts in one locale.
// A value beyond the range of a double is not a number; one too small for it is zero.
std::optional<double> parse_number(std::u16string_view text, char16_t separator);

// "True" or "False" in the user's language.
std::u16string boolean_text(bool value);

// An OLE automation date as the runtime's general date text: the short date, a blank and the
// long time; the time is left out at exactly midnight and the date when the date part is
// 30 December 1899 (values from 0 up to 1). A negative date is the day of its integer part with
// the fraction counted forwards as the time of day. The time is rounded to the nearest second.
// NaN, infinities and dates outside years 100..9999 throw AutomationError 5 (invalid argument),
// as the runtime's own conversion rejects them.
std::u16string date_text(double oa_date);

}  // namespace platform
