#include "corvane/object_model/mail_object_model.h"

#include <utility>

#include "corvane/lesson/csv_import.h"
#include "corvane/lesson/csv_split.h"
#include "corvane/lesson/lesson_display.h"
#include "corvane/lesson/lesson_operations.h"
#include "corvane/mail/debug_dump.h"
#include "corvane/mail/font_conversion.h"
#include "corvane/mail/portable_font.h"
#include "corvane/mail/template_operations.h"

namespace corvane {

using platform::AutomationError;

MailObjectModel::MailObjectModel()
    : MailObjectModel(make_stderr_presenter(), make_portable_font_factory()) {}

MailObjectModel::MailObjectModel(std::shared_ptr<Presenter> presenter,
                                 std::shared_ptr<FontFactory> fonts)
    : presenter_(std::move(presenter)), fonts_(std::move(fonts)) {}

bool MailObjectModel::succeeded(const Failure& failure, Text (*message)(const AutomationError&)) {
  if (failure) error_string_ = message(*failure);
  return !failure;
}

bool MailObjectModel::ConvertLesson2CSV(const Text&, const Text&) { return false; }

bool MailObjectModel::ConvertCSV2Lesson(const Text& csv_path, const Text& lesson_path) {
  const std::optional<EmailLesson> lesson = read_lesson_csv(csv_path);
  return lesson && SaveLesson(lesson_path, *lesson);
}

Integer MailObjectModel::findLessonIndex(const EmailLesson& lesson, Integer key) {
  return find_lesson_index(lesson, key);
}

List<Text> MailObjectModel::SplitCSVLine(const Text& line) { return split_csv_line(line); }

SaveableFont MailObjectModel::ConvertFont(const FontObject* font) { return convert_font(font); }

std::unique_ptr<FontObject> MailObjectModel::RetrieveFont(const SaveableFont& record) {
  return retrieve_font(record, *fonts_);
}

bool MailObjectModel::SaveEmail(const Text& path, const EmailMsg& email) {
  return succeeded(save_email(path, email),
                   [](const AutomationError& e) { return save_error_text(u"SaveEmail", e); });
}

OpenedEmail MailObjectModel::OpenEmail(const Text& path) {
  OpenedEmail opened = open_email(path);
  if (opened.failure) error_string_ = open_error_text(u"OpenEmail", *opened.failure);
  return opened;
}

bool MailObjectModel::AddAttachment(const Text& original_path, const Text& copy_path,
                                    EmailMsg& email) {
  return succeeded(add_attachment(original_path, copy_path, email), attachment_error_text);
}

bool MailObjectModel::IsRead(const Text& path) { return is_read(path); }

bool MailObjectModel::SaveTemplate(const Text& path, const MsgContents& contents) {
  return succeeded(save_template(path, contents),
                   [](const AutomationError& e) { return save_error_text(u"SaveTemplate", e); });
}

MsgContents MailObjectModel::OpenTemplate(const Text& path) {
  OpenedTemplate opened = open_template(path);
  if (opened.failure) error_string_ = open_error_text(u"OpenTemplate", *opened.failure);
  return std::move(opened.contents);
}

Text MailObjectModel::DebugTemplate(const MsgContents& contents, Boolean show) {
  return debug_template(contents, show, *presenter_);
}

Text MailObjectModel::DebugEmail(const EmailMsg& email, Boolean show) {
  return debug_email(email, show, *presenter_);
}

bool MailObjectModel::SaveLesson(const Text& path, const EmailLesson& lesson) {
  return succeeded(save_lesson(path, lesson), lesson_save_error_text);
}

EmailLesson MailObjectModel::OpenLesson(const Text& path) { return open_lesson(path); }

void MailObjectModel::DisplayLesson(const Text& path) { display_lesson(path, *presenter_); }

void MailObjectModel::ShowTime() { show_time(*presenter_); }

}  // namespace corvane
