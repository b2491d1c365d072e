#include "corvane/lesson/csv_import.h"

#include <cmath>

#include "corvane/lesson/csv_line_reader.h"
#include "corvane/lesson/csv_split.h"
#include "corvane/lesson/lesson_builder.h"
#include "corvane/model/error_text.h"
#include "corvane/model/library_identity.h"
#include "platform/codepage.h"
#include "platform/input_file.h"
#include "platform/locale_text.h"

namespace corvane {
namespace {

// The nearest whole number, a fraction of exactly one half going to the even neighbour.
double round_half_even(double value) {
  double whole = std::floor(value);
  const double fraction = value - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  return whole;
}

// Column 1 (already found numeric) as a step number; outside the 16-bit range it overflows.
Integer step_number(const Text& column, char16_t decimal_separator) {
  const double rounded = round_half_even(platform::parse_number(column, decimal_separator).value());
  if (!(rounded >= -32768.0 && rounded <= 32767.0)) {
    throw platform::AutomationError(platform::errnum::kOverflow, {}, Text(kProgId));
  }
  return static_cast<Integer>(rounded);
}

std::optional<EmailLesson> read_lines(const Text& path) {
  CsvLineReader reader(platform::InputFile::open(path));
  const char16_t separator = platform::decimal_separator();
  LessonBuilder builder;
  CsvRawLine raw;
  while (!reader.at_end()) {
    reader.read_line(raw);
    const Text head = platform::from_ansi(raw.head);
    const Text rest = raw.cut ? platform::from_ansi(raw.rest_without_quotes) : Text();
    std::optional<CsvColumns> columns = split_csv_columns(
        CsvLineView{head, raw.cut, raw.rest_has_comma, raw.rest_has_quote, rest}, separator);
    if (!columns) return std::nullopt;
    auto& [number, from, subject, message] = *columns;
    builder.add_choice(step_number(number, separator),
                       LessonChoice{std::move(message), std::move(subject), std::move(from)});
  }
  reader.close();
  return builder.take();
}

}  // namespace

std::optional<EmailLesson> read_lesson_csv(const Text& path) {
  return with_library_source([&] { return read_lines(path); });
}

}  // namespace corvane
