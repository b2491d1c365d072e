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
  const std::size_t at_from = line.find(from, c1 + 1);
  FUZZ_CHECK(at_from != std::u16string_view::npos);
  const std::size_t at_subject = line.find(subject, at_from + from.size() + 1);
  FUZZ_CHECK(at_subject != std::u16string_view::npos);

  const auto& message = columns.at(3);
  bool found_message = false;
  for (std::size_t c = line.find(u',', at_subject + subject.size());
       c != std::u16string_view::npos && !found_message; c = line.find(u',', c + 1)) {
    found_message = without_quotes(line.substr(c + 1)) == message;
  }
  FUZZ_CHECK(found_message);
}

}  // namespace fuzzsupport
