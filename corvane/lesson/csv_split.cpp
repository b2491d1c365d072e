// SplitCSVLine: cuts one lesson CSV line into its four columns.

#include "corvane/lesson/csv_split.h"

#include <algorithm>

#include "corvane/model/error_text.h"
#include "corvane/model/library_identity.h"
#include "platform/locale_text.h"

namespace corvane {
namespace {

using Position = int32_t;  // 1-based; 0 = not found
constexpr Position kMaxPosition = 32767;
constexpr char16_t kComma = u',';
constexpr char16_t kQuote = u'"';

[[noreturn]] void overflow() {
  throw platform::AutomationError(platform::errnum::kOverflow, {}, Text(kProgId));
}

Position next_start(Position after) {
  if (after + 1 > kMaxPosition) overflow();
  return after + 1;
}

// The first ch at or after position from.
Position find_from(const CsvLineView& line, char16_t ch, Position from) {
  const std::size_t at = line.head.find(ch, static_cast<std::size_t>(from - 1));
  if (at == std::u16string_view::npos) {
    const bool in_rest = line.cut && (ch == kComma ? line.rest_has_comma : line.rest_has_quote);
    if (in_rest) overflow();  // the rest starts beyond position 32767
    return 0;
  }
  if (at + 1 > static_cast<std::size_t>(kMaxPosition)) overflow();
  return static_cast<Position>(at + 1);
}

Text text_between(const CsvLineView& line, Position first, Position last) {
  if (last < first) return {};
  return Text(line.head.substr(static_cast<std::size_t>(first - 1),
                               static_cast<std::size_t>(last - first + 1)));
}

Text without_quotes(std::u16string_view text) {
  Text out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c != kQuote) out += c;
  }
  return out;
}

// Column 2 or 3 starting at position start: plain up to the next comma, or a quoted section.
// Sets comma to the comma that ends the column; no value when the line is rejected.
std::optional<Text> middle_column(const CsvLineView& line, Position start, Position& comma) {
  comma = find_from(line, kComma, start);
  if (comma == 0) return std::nullopt;
  const Position quote = find_from(line, kQuote, start);
  if (quote == 0 || quote >= comma) return text_between(line, start, comma - 1);
  const Position closing = find_from(line, kQuote, next_start(quote));
  if (closing == 0) return std::nullopt;
  Text text = text_between(line, quote + 1, closing - 1);
  comma = find_from(line, kComma, closing);
  if (comma == 0) return std::nullopt;
  return text;
}

}  // namespace

std::optional<CsvColumns> split_csv_columns(const CsvLineView& line, char16_t decimal_separator) {
  CsvColumns columns;
  const Position c1 = find_from(line, kComma, 1);
  if (c1 == 0) return std::nullopt;
  columns[0] = text_between(line, 1, c1 - 1);
  if (!platform::parse_number(columns[0], decimal_separator)) return std::nullopt;

  Position c2 = 0;
  std::optional<Text> column2 = middle_column(line, next_start(c1), c2);
  if (!column2) return std::nullopt;
  columns[1] = std::move(*column2);

  Position c3 = 0;
  std::optional<Text> column3 = middle_column(line, next_start(c2), c3);
  if (!column3) return std::nullopt;
  columns[2] = std::move(*column3);

  const Position start4 = next_start(c3);
  columns[3] = without_quotes(line.head.substr(
      std::min(static_cast<std::size_t>(start4 - 1), line.head.size())));
  if (line.cut) columns[3] += line.rest_without_quotes;
  return columns;
}

List<Text> split_csv_line(const Text& line) {
  return with_library_source([&] {
    std::optional<CsvColumns> columns =
        split_csv_columns(CsvLineView{line, false, false, false, {}},
                          platform::decimal_separator());
    std::vector<Text> texts(4);
    if (columns) std::move(columns->begin(), columns->end(), texts.begin());
    return List<Text>::sized(0, std::move(texts));
  });
}

}  // namespace corvane
