// E-mail files: SaveEmail, OpenEmail, AddAttachment, IsRead.

#include <filesystem>
#include <utility>

#include "corvane/model/error_text.h"
#include "corvane/model/mail_object_model.h"
#include "corvane/model/record_file.h"
#include "platform/binary_file.h"
#include "platform/file_copy.h"

namespace corvane {

namespace {

constexpr std::size_t kReadFlagOffset = 3;

}  // namespace

bool MailObjectModel::SaveEmail(const Text& strPath, const EmailMsg& Email) {
  try {
    with_library_source([&] { write_record_file(strPath, Email); });
    return true;
  } catch (const platform::AutomationError& e) {
    error_string_ = save_error_text(u"SaveEmail", e);
    return false;
  }
}

OpenedEmail MailObjectModel::OpenEmail(const Text& strPath) {
  OpenedEmail opened;
  try {
    with_library_source([&] { read_record_file(strPath, opened.email); });
  } catch (const platform::AutomationError& e) {
    error_string_ = open_error_text(u"OpenEmail", e);
    opened.failure = e;
  }
  return opened;
}

bool MailObjectModel::AddAttachment(const Text& strOriginalPath, const Text& strNewPath,
                                    EmailMsg& Email) {
  try {
    with_library_source([&] { platform::copy_file_replacing(strOriginalPath, strNewPath); });
    Email.emAttachments.FilePath = strNewPath;
    return true;
  } catch (const platform::AutomationError& e) {
    error_string_ = attachment_error_text(e);
    return false;
  }
}

bool MailObjectModel::IsRead(const Text& Path) {
  return with_library_source([&] {
    auto file = platform::BinaryFile::open_read_write(Path);
    const auto head = file.read_from_start(kReadFlagOffset + 1);
    file.close();
    return head.size() > kReadFlagOffset && head[kReadFlagOffset] != 0;
  });
}

}  // namespace corvane
