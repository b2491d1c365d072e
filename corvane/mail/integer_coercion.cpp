#include "corvane/mail/integer_coercion.h"

#include <cmath>
#include <limits>

#include "platform/automation_error.h"
#include "platform/locale_text.h"

namespace corvane {
namespace {

constexpr int64_t kCyScale = 10000;

Integer checked(int64_t value) {
  if (value < std::numeric_limits<Integer>::min() || value > std::numeric_limits<Integer>::max()) {
    throw platform::AutomationError(platform::errnum::kOverflow);
  }
  return static_cast<Integer>(value);
}

}  // namespace

Integer integer_from_currency(int64_t cy) {
  // Floor division keeps the remainder in 0..9999 for negative values too.
  int64_t whole = cy / kCyScale;
  int64_t rest = cy % kCyScale;
  if (rest < 0) {
    rest += kCyScale;
    --whole;
  }
  const int64_t half = kCyScale / 2;
  if (rest > half || (rest == half && whole % 2 != 0)) ++whole;
  return checked(whole);
}

Integer integer_from_double(double value) {
  // Far outside the range (or not a number): refuse before converting to an integer type.
  if (!(std::fabs(value) < 65536.0)) throw platform::AutomationError(platform::errnum::kOverflow);
  const double floor = std::floor(value);
  const double rest = value - floor;
  auto whole = static_cast<int64_t>(floor);
  if (rest > 0.5 || (rest == 0.5 && whole % 2 != 0)) ++whole;
  return checked(whole);
}

Integer integer_from_text(std::u16string_view text) {
  const auto number = platform::parse_number(text);
  if (!number) throw platform::AutomationError(platform::errnum::kTypeMismatch);
  return integer_from_double(*number);
}

}  // namespace corvane
