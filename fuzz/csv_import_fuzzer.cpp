// Fuzz target: ConvertCSV2Lesson on a whole CSV file.
//
// The import is compared with a model built from the documented behaviour: the file cut into
// lines (CR LF or a lone CR ends a line; a lone LF stays in it), every line cut by SplitCSVLine
// on its whole text, the step number rounded half to even, choices grouped by step number in
// order of first appearance. The importer reads the file in blocks and keeps only a summary of
// very long lines, so agreement on such lines is the point: each byte 0x01 of the input stands
// for a run of kRunLength letters, which lets short inputs make lines longer than the importer
// keeps whole, and each byte 0x02 for a run of kBlockRunLength letters, which puts what
// follows it next to the boundary of the importer's 64 KiB read blocks (a CR LF split by it).

#include <cfenv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "corvane/object_model/mail_object_model.h"
#include "fuzz/csv_properties.h"
#include "fuzz/record_properties.h"
#include "fuzz/scratch_folder.h"
#include "platform/automation_error.h"
#include "platform/codepage.h"
#include "platform/locale_text.h"

namespace {

using corvane::EmailLesson;
using corvane::LessonChoice;
using corvane::LessonStep;
using corvane::List;
using corvane::Text;

constexpr std::size_t kRunLength = 100000;
constexpr std::size_t kBlockRunLength = 65529;
constexpr std::size_t kMaxRuns = 4;

std::string expand_runs(std::string_view input) {
  std::string out;
  std::size_t runs = 0;
  for (char c : input) {
    if ((c == '\x01' || c == '\x02') && runs < kMaxRuns) {
      out.append(c == '\x01' ? kRunLength : kBlockRunLength, c == '\x01' ? 'a' : 'b');
      ++runs;
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<std::string> lines_of(const std::string& file) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < file.size()) {
    const std::size_t cr = file.find('\r', start);
    if (cr == std::string::npos) {
      lines.push_back(file.substr(start));
      break;
    }
    lines.push_back(file.substr(start, cr - start));
    start = cr + 1;
    if (start < file.size() && file[start] == '\n') ++start;
  }
  return lines;
}

// What the import must do: fail with an overflow, answer False (a rejected line, or a lesson
// too large to save), or write `lesson`.
struct Expected {
  enum Outcome { kOverflow, kRejected, kWritten } outcome = kWritten;
  EmailLesson lesson;
};

class ExpectedLesson {
 public:
  bool add(double number, LessonChoice choice) {
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(number);
    if (!(rounded >= -32768 && rounded <= 32767)) return false;
    const auto key = static_cast<corvane::Integer>(rounded);
    auto found = subscript_.find(key);
    if (found == subscript_.end()) {
      LessonStep step;
      step.Index = key;
      found = subscript_.emplace(key, lesson_.steps.size()).first;
      lesson_.steps.push_back(std::move(step), 0);
    }
    lesson_.steps.items()[found->second].Choices.push_back(std::move(choice), 0);
    return true;
  }
  EmailLesson take() { return std::move(lesson_); }

 private:
  EmailLesson lesson_;
  std::map<corvane::Integer, std::size_t> subscript_;
};

Expected expected_import(corvane::MailObjectModel& model, const std::string& file) {
  ExpectedLesson lesson;
  for (const std::string& line : lines_of(file)) {
    const Text text = platform::from_ansi(line);
    List<Text> columns;
    try {
      columns = model.SplitCSVLine(text);
    } catch (const platform::AutomationError& e) {
      FUZZ_CHECK(e.number() == platform::errnum::kOverflow);
      return {Expected::kOverflow, {}};
    }
    fuzzsupport::check_split_consistent(text, columns);
    if (fuzzsupport::is_rejected(columns)) return {Expected::kRejected, {}};
    const std::optional<double> number = platform::parse_number(columns.at(0));
    FUZZ_CHECK(number.has_value());
    if (!lesson.add(*number, LessonChoice{columns.at(3), columns.at(2), columns.at(1)})) {
      return {Expected::kOverflow, {}};
    }
  }
  return {Expected::kWritten, lesson.take()};
}

bool fits_a_record_file(const EmailLesson& lesson) {
  for (const auto& step : lesson.steps) {
    for (const auto& choice : step.Choices) {
      for (const Text* text : {&choice.choMessage, &choice.choSubject, &choice.choFrom}) {
        if (platform::to_ansi(*text).size() > corvane::kMaxCountedTextBytes) return false;
      }
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static fuzzsupport::ScratchFolder folder("csv_import");
  static corvane::MailObjectModel model;
  const auto csv_path = folder / "lesson.csv";
  const auto lesson_path = folder / "lesson.dat";
  std::filesystem::remove(lesson_path);

  const std::string file = expand_runs(std::string_view(reinterpret_cast<const char*>(data), size));
  fuzzsupport::write_file(csv_path, file);
  const Text kUntouched = u"untouched";
  model.set_ErrorString(kUntouched);

  bool written = false;
  bool overflow = false;
  try {
    written = model.ConvertCSV2Lesson(fuzzsupport::u16(csv_path), fuzzsupport::u16(lesson_path));
  } catch (const platform::AutomationError& e) {
    FUZZ_CHECK(e.number() == platform::errnum::kOverflow);
    overflow = true;
  }
  FUZZ_CHECK(std::filesystem::exists(lesson_path) == written);

  // The model converts lines the way the importer does only in a one-to-one code page.
  if (!fuzzsupport::code_page_is_byte_exact()) return 0;
  Expected expected = expected_import(model, file);
  switch (expected.outcome) {
    case Expected::kOverflow:
      FUZZ_CHECK(overflow);
      break;
    case Expected::kRejected:
      FUZZ_CHECK(!overflow && !written && model.ErrorString() == kUntouched);
      break;
    case Expected::kWritten:
      FUZZ_CHECK(!overflow);
      if (!fits_a_record_file(expected.lesson)) {
        FUZZ_CHECK(!written && model.ErrorString() != kUntouched);
        break;
      }
      FUZZ_CHECK(written);
      FUZZ_CHECK(model.OpenLesson(fuzzsupport::u16(lesson_path)) == expected.lesson);
      break;
  }
  return 0;
}
