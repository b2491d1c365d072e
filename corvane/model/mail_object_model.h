#pragma once
// MailObjectModel: every service of the library as one class. The COM server adapts this
// class to the automation interface; other programs (the sorter, the command-line tool, the
// tests) use it in-process.
//
// Failure reporting comes in two groups:
//  - SaveEmail, AddAttachment, SaveTemplate, SaveLesson, OpenEmail and OpenTemplate catch
//    their own failures, answer False or the partial record, and write ErrorString;
//  - every other operation throws platform::AutomationError (number, source, description).
// No operation clears ErrorString on success. OpenEmail answers its failure with the record as
// well, so that a caller can tell an unreadable file from an e-mail without sender.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "corvane/mail/email_operations.h"
#include "corvane/mail/font_object.h"
#include "corvane/model/presenter.h"
#include "corvane/model/records.h"
#include "platform/automation_error.h"

namespace corvane {

// The library's programmatic identifier, the source of the errors its operations raise.
inline constexpr std::u16string_view kProgId = u"Corvane.MailObjectModel";

class MailObjectModel {
 public:
  MailObjectModel();
  MailObjectModel(std::shared_ptr<Presenter> presenter, std::shared_ptr<FontFactory> fonts);

  // The object's only state: the last message of an operation that reports through it.
  const Text& ErrorString() const { return error_string_; }
  void set_ErrorString(Text value) { error_string_ = std::move(value); }

  // Lessons and CSV import.
  bool ConvertLesson2CSV(const Text& LessonPath, const Text& CSVPath);
  bool ConvertCSV2Lesson(const Text& CSVPath, const Text& LessonPath);
  Integer findLessonIndex(const EmailLesson& elePatient, Integer Key);
  List<Text> SplitCSVLine(const Text& strLine);

  // Fonts. ConvertFont throws when argFont is null.
  SaveableFont ConvertFont(const FontObject* argFont);
  std::unique_ptr<FontObject> RetrieveFont(const SaveableFont& argFont);

  // E-mails.
  bool SaveEmail(const Text& strPath, const EmailMsg& Email);
  OpenedEmail OpenEmail(const Text& strPath);
  bool AddAttachment(const Text& strOriginalPath, const Text& strNewPath, EmailMsg& Email);
  bool IsRead(const Text& Path);

  // Templates.
  bool SaveTemplate(const Text& strPath, const MsgContents& Template);
  MsgContents OpenTemplate(const Text& strPath);

  // Debug views; the text is shown in the debug window only when blShow is exactly True (-1).
  Text DebugTemplate(const MsgContents& argValue, Boolean blShow = kFalse);
  Text DebugEmail(const EmailMsg& argValue, Boolean blShow = kFalse);

  // Lesson files.
  bool SaveLesson(const Text& Path, const EmailLesson& Lesson);
  EmailLesson OpenLesson(const Text& Path);

  // Message boxes; both answer an empty result.
  void DisplayLesson(const Text& Path);
  void ShowTime();

  // The texts the two display operations show, without showing them.
  static Text lesson_display_text(const Text& path, const EmailLesson& lesson);
  static Text time_display_text(Date now);

 private:
  Presenter& presenter() { return *presenter_; }
  FontFactory& fonts() { return *fonts_; }

  Text error_string_;
  std::shared_ptr<Presenter> presenter_;
  std::shared_ptr<FontFactory> fonts_;
};

}  // namespace corvane
