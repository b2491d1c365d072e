// Fuzz target: the text dumps of decoded records. The first byte picks the record and its
// dump (0: EmailMsg and DebugEmail, 1: MsgContents and DebugTemplate, 2: EmailLesson and the
// DisplayLesson text); the rest is the record file. Whatever decodes must dump without crashing
// and without any failure but the date conversion's, and the dump keeps its fixed frame.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "corvane/lesson/lesson_display.h"
#include "corvane/object_model/mail_object_model.h"
#include "corvane/model/records.h"
#include "fuzz/record_properties.h"

namespace {

using corvane::Text;

bool starts_with(const Text& text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && std::u16string_view(text).substr(0, prefix.size()) == prefix;
}
bool ends_with(const Text& text, std::u16string_view suffix) {
  return text.size() >= suffix.size() &&
         std::u16string_view(text).substr(text.size() - suffix.size()) == suffix;
}

template <corvane::Record R>
bool decode(std::span<const uint8_t> data, R& record) {
  std::size_t used = 0;
  return fuzzsupport::decode_checked(data, record, used);
}

void dump_template(corvane::MailObjectModel& model, std::span<const uint8_t> data) {
  corvane::MsgContents body;
  if (!decode(data, body)) return;
  const Text dump = model.DebugTemplate(body);
  FUZZ_CHECK(starts_with(dump, u"Pictures\r\n") && ends_with(dump, u"\r\n"));
  FUZZ_CHECK(dump.find(u"\r\n\r\nTexts\r\n") != Text::npos);
}

void dump_email(corvane::MailObjectModel& model, std::span<const uint8_t> data) {
  corvane::EmailMsg email;
  if (!decode(data, email)) return;
  Text dump;
  try {
    dump = model.DebugEmail(email);
  } catch (const platform::AutomationError& e) {
    // Only a date without a text form (NaN, infinite, outside years 100 to 9999) fails.
    FUZZ_CHECK(e.number() == platform::errnum::kInvalidCall);
    return;
  }
  FUZZ_CHECK(starts_with(dump, u"Headers\r\n-------\r\nemCC: " + email.emCC + u"\r\n"));
  FUZZ_CHECK(ends_with(dump, u"\r\nemTo: " + email.emTo + u"\r\n"));
  FUZZ_CHECK(dump.find(model.DebugTemplate(email.emMsg)) != Text::npos);
}

void dump_lesson(std::span<const uint8_t> data) {
  corvane::EmailLesson lesson;
  if (!decode(data, lesson)) return;
  const Text path = u"C:\\Lessons\\fuzz.dat";
  const Text text = corvane::lesson_display_text(path, lesson);
  FUZZ_CHECK(starts_with(text, u"[" + path + u"]\r\nSteps:\r\n") && ends_with(text, u"_____"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static corvane::MailObjectModel model;
  if (size == 0) return 0;
  const std::span<const uint8_t> record(data + 1, size - 1);
  switch (data[0] % 3) {
    case 0: dump_email(model, record); break;
    case 1: dump_template(model, record); break;
    default: dump_lesson(record); break;
  }
  return 0;
}
