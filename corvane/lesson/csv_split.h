#pragma once
// The lesson CSV tokeniser behind split_csv_line and the importer. Character positions are
// 16-bit: a comma or double quote found beyond position 32767, or a start position past it,
// throws AutomationError 6 (Overflow).

#include <array>
#include <optional>
#include <string_view>

#include "corvane/model/records.h"

namespace corvane {

// Columns 1 to 4: step number text, sender, subject, message.
using CsvColumns = std::array<Text, 4>;

// One line without its line end. A line too long to keep whole (see csv_line_reader.h) holds
// its first characters in head, more than 32767 of them, and a summary of the rest: whether it
// contains a comma or a double quote, and its text with the quotes removed (possibly cut too).
// Since every search result beyond position 32767 overflows, the summary decides a line
// exactly as its whole text would.
struct CsvLineView {
  std::u16string_view head;
  bool cut = false;
  bool rest_has_comma = false;
  bool rest_has_quote = false;
  std::u16string_view rest_without_quotes;
};

// The four columns, or no value when the line is rejected.
std::optional<CsvColumns> split_csv_columns(const CsvLineView& line, char16_t decimal_separator);

// The four columns of a whole line as a list with subscripts 0 to 3, in the user's locale; a
// rejected line gives four empty texts.
List<Text> split_csv_line(const Text& line);

}  // namespace corvane
