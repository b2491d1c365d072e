// The reader over the library's own decoding in this process. It reads the file through the
// handle the round opened, never by name, so it cannot create a file or follow a link that
// took the file's place; and it skims: the header fields are kept, the body is checked as it
// streams by, so memory does not follow the file's size.

#include "corvane/model/error_text.h"
#include "corvane/model/record_codec.h"
#include "sorter/engine/mail_reader.h"

namespace sorter {
namespace {

class DropFileSource final : public corvane::RecordSource {
 public:
  explicit DropFileSource(platform::DropFile& file) : file_(file) {}
  uint64_t size() const override { return file_.facts().size; }
  std::size_t read_at(uint64_t offset, std::span<uint8_t> out) override {
    return file_.read_at(offset, out);
  }

 private:
  platform::DropFile& file_;
};

class InProcessMailReader final : public MailReader {
 public:
  OpenedEmail open(const std::u16string&, platform::DropFile& file) override {
    OpenedEmail result;
    try {
      DropFileSource source(file);
      corvane::with_library_source([&] { corvane::skim_email(source, result.email); });
    } catch (const platform::AutomationError& e) {
      result.failure = e;
    }
    return result;
  }
};

}  // namespace

MailReaderFactory in_process_mail_reader_factory() {
  return [] { return std::make_unique<InProcessMailReader>(); };
}

}  // namespace sorter
