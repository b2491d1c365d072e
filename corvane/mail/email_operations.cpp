#include "corvane/mail/email_operations.h"

#include "corvane/model/record_file.h"
#include "platform/binary_file.h"
#include "platform/file_copy.h"

namespace corvane {
namespace {

constexpr std::size_t kReadFlagOffset = 3;

}  // namespace

Failure save_email(const Text& path, const EmailMsg& email) {
  return failure_of([&] { write_record_file(path, email); });
}

OpenedEmail open_email(const Text& path) {
  OpenedEmail opened;
  opened.failure = failure_of([&] { read_record_file(path, opened.email); });
  return opened;
}

Failure add_attachment(const Text& original_path, const Text& copy_path, EmailMsg& email) {
  Failure failure = failure_of([&] { platform::copy_file_replacing(original_path, copy_path); });
  if (!failure) email.emAttachments.FilePath = copy_path;
  return failure;
}

bool is_read(const Text& path) {
  return with_library_source([&] {
    auto file = platform::BinaryFile::open_read_write(path);
    const auto head = file.read_from_start(kReadFlagOffset + 1);
    file.close();
    return head.size() > kReadFlagOffset && head[kReadFlagOffset] != 0;
  });
}

}  // namespace corvane
