#pragma once
// Plain decimal text of an integer: a minus sign when negative, no grouping, whatever the
// locale. For numbers inside messages and dumps, where the digits are part of a fixed format.

#include <charconv>
#include <concepts>
#include <string>

namespace platform {

// Appends the digits to out without a temporary string.
template <std::integral T>
void append_decimal(std::u16string& out, T value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

template <std::integral T>
std::u16string decimal_text(T value) {
  std::u16string out;
  append_decimal(out, value);
  return out;
}

}  // namespace platform
