#pragma once
// Checks shared by the CSV fuzz targets: what any result of SplitCSVLine must be consistent
// with, independently of how the line was cut.

#include <cstddef>
#include <string>

#include "corvane/model/list.h"
#include "corvane/model/records.h"
#include "fuzz/fuzz_check.h"

namespace fuzzsupport {

inline std::u16string without_quotes(std::u16string_view text) {
  std::u16string out;
  for (char16_t c : text) {
    if (c != u'"') out += c;
  }
  return out;
}

inline bool is_rejected(const corvane::List<corvane::Text>& columns) {
  for (const auto& c : columns) {
    if (!c.empty()) return false;
  }
  return true;
}

// Lines up to this length have their columns searched for; longer ones (the importer's long
// lines) get the linear checks only, so a check never costs more than the split itself.
inline constexpr std::size_t kSearchedLineLength = 8192;

// A result of SplitCSVLine(line) is either the rejected form or four texts that can be found
// in the line in order: column 1 is the line up to its first comma; columns 2 and 3 are
// quote-free texts found after it, one after the other; column 4 is the rest of the line after
// some later comma, with its quotes removed.
inline void check_split_consistent(std::u16string_view line,
                                   const corvane::List<corvane::Text>& columns) {
  FUZZ_CHECK(columns.is_sized() && columns.lower_bound() == 0 && columns.size() == 4);
  if (is_rejected(columns)) return;

  std::size_t commas = 0;
  for (char16_t c : line) commas += c == u',' ? 1 : 0;
  FUZZ_CHECK(commas >= 3);

  const auto& number = columns.at(0);
  const std::size_t c1 = line.find(u',');
  FUZZ_CHECK(!number.empty() && line.substr(0, c1) == number);

  const auto& from = columns.at(1);
  const auto& subject = columns.at(2);
  FUZZ_CHECK(from.find(u'"') == std::u16string::npos);
  FUZZ_CHECK(subject.find(u'"') == std::u16string::npos);
  std::size_t subject_end = c1 + 1;
  if (line.size() <= kSearchedLineLength) {
    const std::size_t at_from = line.find(from, c1 + 1);
    FUZZ_CHECK(at_from != std::u16string_view::npos);
    const std::size_t at_subject = line.find(subject, at_from + from.size() + 1);
    FUZZ_CHECK(at_subject != std::u16string_view::npos);
    subject_end = at_subject + subject.size();
  }

  // Column 4 is the quote-free line's tail, and that tail starts right after a comma.
  const std::u16string_view message = columns.at(3);
  const std::u16string all = without_quotes(line);
  FUZZ_CHECK(all.size() >= message.size() &&
             std::u16string_view(all).substr(all.size() - message.size()) == message);
  const std::size_t tail_start = all.size() - message.size();
  bool found_comma = false;
  std::size_t kept = 0;  // characters of `all` up to and including position i of the line
  for (std::size_t i = 0; i < line.size() && !found_comma && kept <= tail_start; ++i) {
    if (line[i] != u'"') ++kept;
    found_comma = line[i] == u',' && i >= subject_end && kept == tail_start;
  }
  FUZZ_CHECK(found_comma);
}

}  // namespace fuzzsupport
