#pragma once
// HTML text of the console: escaping of everything that comes from the store or a request,
// query-string encoding of names, and dates as text.

#include <optional>
#include <string>
#include <string_view>

namespace sorter::console {

// Text escaped for element content and quoted attribute values: & < > " ' become entities,
// control characters other than tab and line ends become U+FFFD. A byte that is not UTF-8
// (in text: the lone surrogate from_utf8 keeps it as, see platform/utf.h) is shown as \xE9,
// a backslash, x and its two hexadecimal digits, so a name with such bytes stays readable and
// the page stays valid UTF-8.
std::string escape(std::string_view utf8);
std::string escape(std::u16string_view text);

// A value for a query string or form field: percent-encoding of the bytes to_utf8 gives, so
// that bytes that are not UTF-8 travel unchanged.
std::string url_encode(std::u16string_view text);
// The text a url_encode value stands for, exactly; a '%' without two hexadecimal digits after
// it is taken as it is.
std::u16string url_decode(std::string_view encoded);

// "2026-12-09 07:45:12" for an automation date; "-" for none or a date out of range.
std::string date_text(std::optional<double> oa_date);

// "3 s", "4 min", "2 h", "5 d": an age for people.
std::string age_text(double seconds);

// "512 bytes", "4.0 KiB", "1.2 MiB".
std::string size_text(unsigned long long bytes);

}  // namespace sorter::console
