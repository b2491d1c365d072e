#pragma once
// HTML text of the console: escaping of everything that comes from the store or a request,
// query-string encoding of names, and dates as text.

#include <optional>
#include <string>
#include <string_view>

namespace sorter::console {

// Text escaped for element content and quoted attribute values: & < > " ' become entities,
// control characters other than tab and line ends become U+FFFD.
std::string escape(std::string_view utf8);
std::string escape(std::u16string_view text);

// A value for a query string or form field (percent-encoding of UTF-8).
std::string url_encode(std::u16string_view text);

// "2026-12-09 07:45:12" for an automation date; "-" for none or a date out of range.
std::string date_text(std::optional<double> oa_date);

// "3 s", "4 min", "2 h", "5 d": an age for people.
std::string age_text(double seconds);

// "512 bytes", "4.0 KiB", "1.2 MiB".
std::string size_text(unsigned long long bytes);

}  // namespace sorter::console
