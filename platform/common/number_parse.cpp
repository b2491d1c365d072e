// The locale-aware numeric test shared by both platforms: only the decimal separator comes
// from the platform.

#include <charconv>
#include <cstdlib>
#include <string>

#include "platform/locale_text.h"

namespace platform {
namespace {

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }
bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

// The text normalised to the C form ("-12.5e3") for std::from_chars, plus the decimal
// exponent of the value's leading digit, which tells an overflow from an underflow.
struct Normalised {
  std::string text;
  long long magnitude = 0;
  bool negative = false;
};

std::optional<Normalised> normalise(std::u16string_view text, char16_t separator) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && is_blank(text[begin])) ++begin;
  while (end > begin && is_blank(text[end - 1])) --end;
  Normalised out;
  std::size_t i = begin;
  if (i < end && (text[i] == u'+' || text[i] == u'-')) {
    out.negative = text[i] == u'-';
    ++i;
  }
  long long integer_digits = 0;  // significant digits before the separator
  long long leading_fraction_zeros = 0;
  bool seen_nonzero = false;
  std::size_t digits = 0;
  for (; i < end && is_digit(text[i]); ++i, ++digits) {
    if (text[i] != u'0') seen_nonzero = true;
    if (seen_nonzero) ++integer_digits;
    out.text += static_cast<char>(text[i]);
  }
  if (i < end && text[i] == separator) {
    out.text += '.';
    for (++i; i < end && is_digit(text[i]); ++i, ++digits) {
      if (!seen_nonzero && text[i] == u'0') ++leading_fraction_zeros;
      if (text[i] != u'0') seen_nonzero = true;
      out.text += static_cast<char>(text[i]);
    }
  }
  if (digits == 0) return std::nullopt;
  long long exponent = 0;
  if (i < end && (text[i] == u'e' || text[i] == u'E')) {
    out.text += 'e';
    ++i;
    bool exponent_negative = false;
    if (i < end && (text[i] == u'+' || text[i] == u'-')) {
      exponent_negative = text[i] == u'-';
      out.text += static_cast<char>(text[i]);
      ++i;
    }
    std::size_t exponent_digits = 0;
    for (; i < end && is_digit(text[i]); ++i, ++exponent_digits) {
      out.text += static_cast<char>(text[i]);
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[i] - u'0');
    }
    if (exponent_digits == 0) return std::nullopt;
    if (exponent_negative) exponent = -exponent;
  }
  if (i != end) return std::nullopt;
  out.magnitude = (integer_digits > 0 ? integer_digits : -leading_fraction_zeros) + exponent;
  return out;
}

}  // namespace

std::optional<double> parse_number(std::u16string_view text, char16_t separator) {
  const std::optional<Normalised> n = normalise(text, separator);
  if (!n) return std::nullopt;
  double value = 0.0;
  const char* first = n->text.data();
  const char* last = first + n->text.size();
  const auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec == std::errc::result_out_of_range) {
    // Too small to represent is zero; too large is not a number, as the runtime's own
    // conversion refuses it.
    if (n->magnitude > 0) return std::nullopt;
    value = 0.0;
  } else if (ec != std::errc() || ptr != last) {
    return std::nullopt;
  }
  return n->negative ? -value : value;
}

std::optional<double> parse_number(std::u16string_view text) {
  return parse_number(text, decimal_separator());
}

}  // namespace platform
