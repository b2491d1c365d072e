// The reader over the library's own decoding in this process. It reads the file through the
// handle the round opened, never by name, so it cannot create a file or follow a link that
// took the file's place.

#include "corvane/model/error_text.h"
#include "corvane/model/record_codec.h"
#include "sorter/engine/mail_reader.h"

namespace sorter {
namespace {

class InProcessMailReader final : public MailReader {
 public:
  OpenedEmail open(const std::u16string&, platform::DropFile& file) override {
    OpenedEmail result;
    try {
      corvane::with_library_source([&] {
        std::vector<uint8_t> bytes(static_cast<std::size_t>(file.facts().size));
        bytes.resize(file.read_at(0, bytes));
        corvane::decode_record(bytes, result.email);
      });
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
