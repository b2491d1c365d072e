// The reader over corvane::MailObjectModel in this process: OpenEmail, then its pending
// failure taken at once, before anything else can run on this thread.

#include "corvane/model/mail_object_model.h"
#include "sorter/engine/mail_reader.h"

namespace sorter {
namespace {

class InProcessMailReader final : public MailReader {
 public:
  OpenedEmail open(const std::u16string& path) override {
    OpenedEmail result;
    result.email = model_.OpenEmail(path);
    result.failure = corvane::take_pending_open_failure();
    return result;
  }

 private:
  corvane::MailObjectModel model_;
};

}  // namespace

MailReaderFactory in_process_mail_reader_factory() {
  return [] { return std::make_unique<InProcessMailReader>(); };
}

}  // namespace sorter
