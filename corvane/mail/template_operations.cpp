// Template files: SaveTemplate and OpenTemplate. A template file holds one MsgContents and
// nothing else.

#include "corvane/model/error_text.h"
#include "corvane/model/mail_object_model.h"
#include "corvane/model/record_file.h"

namespace corvane {

bool MailObjectModel::SaveTemplate(const Text& strPath, const MsgContents& Template) {
  try {
    with_library_source([&] { write_record_file(strPath, Template); });
    return true;
  } catch (const platform::AutomationError& e) {
    error_string_ = save_error_text(u"SaveTemplate", e);
    return false;
  }
}

MsgContents MailObjectModel::OpenTemplate(const Text& strPath) {
  MsgContents contents;
  try {
    with_library_source([&] { read_record_file(strPath, contents); });
  } catch (const platform::AutomationError& e) {
    error_string_ = open_error_text(u"OpenTemplate", e);
  }
  return contents;
}

}  // namespace corvane
