// Fuzz target: SplitCSVLine, fed any bytes as one line of a lesson CSV file (converted from the
// ANSI code page, as the importer reads them).
//
// Besides the consistency of every result with its line, it checks that text added after an
// accepted line only extends column 4: the first three columns end at or before the third
// separating comma, so nothing after it can change them.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "corvane/object_model/mail_object_model.h"
#include "fuzz/csv_properties.h"
#include "platform/automation_error.h"
#include "platform/codepage.h"

namespace {

// Lines whose commas and quotes all lie within the 16-bit character positions.
constexpr std::size_t kShortLine = 32000;

corvane::List<corvane::Text> split(corvane::MailObjectModel& model, const corvane::Text& line) {
  try {
    return model.SplitCSVLine(line);
  } catch (const platform::AutomationError& e) {
    // Only positions beyond 32767 overflow.
    FUZZ_CHECK(e.number() == platform::errnum::kOverflow && line.size() > 32767);
    throw;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static corvane::MailObjectModel model;
  const corvane::Text line =
      platform::from_ansi(std::string_view(reinterpret_cast<const char*>(data), size));
  if (line.size() > kShortLine) {
    try {
      fuzzsupport::check_split_consistent(line, split(model, line));
    } catch (const platform::AutomationError&) {
    }
    return 0;
  }

  const auto columns = split(model, line);
  fuzzsupport::check_split_consistent(line, columns);
  if (fuzzsupport::is_rejected(columns)) return 0;

  const auto longer = split(model, line + u"\"x,\"");
  FUZZ_CHECK(longer.at(0) == columns.at(0) && longer.at(1) == columns.at(1) &&
             longer.at(2) == columns.at(2) && longer.at(3) == columns.at(3) + u"x,");
  return 0;
}
