#pragma once
// Conversions to the 16-bit Integer the way the automation runtime coerces values: halves
// round to the even neighbour, a result outside -32768..32767 is an overflow (error 6), and a
// text that is not a number is a type mismatch (error 13).

#include <cstdint>
#include <string_view>

#include "corvane/model/records.h"

namespace corvane {

// A currency value (fixed point, four decimals: 10.5 is 105000).
Integer integer_from_currency(int64_t cy);

// A floating-point value; NaN and infinities overflow.
Integer integer_from_double(double value);

// A text in the user's locale (platform::parse_number): "12", " -3 ", "1.5E1".
Integer integer_from_text(std::u16string_view text);

}  // namespace corvane
