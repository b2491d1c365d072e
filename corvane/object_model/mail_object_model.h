#pragma once
// MailObjectModel: every service of the library as one class, over the free-standing
// operations of corvane/mail (e-mails, templates, fonts, dumps) and corvane/lesson (lessons,
// CSV import, displays). The COM server adapts this class to the automation interface; other
// programs (the sorter, the command-line tool, the tests) use it in-process.
//
// Failure reporting comes in two groups:
//  - SaveEmail, AddAttachment, SaveTemplate, SaveLesson, OpenEmail and OpenTemplate catch
//    their own failures, answer False or the partial record, and write ErrorString;
//  - every other operation throws platform::AutomationError (number, source, description).
// No operation clears ErrorString on success. OpenEmail answers its failure with the record as
// well, so that a caller can tell an unreadable file from an e-mail without sender.

#include <memory>

#include "corvane/mail/email_operations.h"
#include "corvane/mail/font_object.h"
#include "corvane/model/presenter.h"
#include "corvane/model/records.h"

namespace corvane {

class MailObjectModel {
 public:
  MailObjectModel();
  MailObjectModel(std::shared_ptr<Presenter> presenter, std::shared_ptr<FontFactory> fonts);

  // The object's only state: the last message of an operation that reports through it.
  const Text& ErrorString() const { return error_string_; }
  void set_ErrorString(Text value) { error_string_ = std::move(value); }

  // Lessons and CSV import. ConvertLesson2CSV writes nothing and answers False.
  bool ConvertLesson2CSV(const Text& lesson_path, const Text& csv_path);
  bool ConvertCSV2Lesson(const Text& csv_path, const Text& lesson_path);
  Integer findLessonIndex(const EmailLesson& lesson, Integer key);
  List<Text> SplitCSVLine(const Text& line);

  // Fonts. ConvertFont throws when font is null.
  SaveableFont ConvertFont(const FontObject* font);
  std::unique_ptr<FontObject> RetrieveFont(const SaveableFont& record);

  // E-mails.
  bool SaveEmail(const Text& path, const EmailMsg& email);
  OpenedEmail OpenEmail(const Text& path);
  bool AddAttachment(const Text& original_path, const Text& copy_path, EmailMsg& email);
  bool IsRead(const Text& path);

  // Templates.
  bool SaveTemplate(const Text& path, const MsgContents& contents);
  MsgContents OpenTemplate(const Text& path);

  // Debug views; the text is shown in the debug window only when show is exactly True (-1).
  Text DebugTemplate(const MsgContents& contents, Boolean show = kFalse);
  Text DebugEmail(const EmailMsg& email, Boolean show = kFalse);

  // Lesson files.
  bool SaveLesson(const Text& path, const EmailLesson& lesson);
  EmailLesson OpenLesson(const Text& path);

  // Message boxes; both answer an empty result.
  void DisplayLesson(const Text& path);
  void ShowTime();

 private:
  // True when there is no failure; else ErrorString takes the failure's message.
  bool succeeded(const Failure& failure, Text (*message)(const platform::AutomationError&));

  Text error_string_;
  std::shared_ptr<Presenter> presenter_;
  std::shared_ptr<FontFactory> fonts_;
};

}  // namespace corvane
