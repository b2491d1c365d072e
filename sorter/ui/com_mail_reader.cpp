#include "sorter/ui/com_mail_reader.h"

#include <windows.h>
#include <ole2.h>

#include "corvane/com/client/mail_client.h"

namespace sorter::ui {
namespace {

namespace client = corvane::com::client;

class ComMailReader final : public MailReader {
 public:
  explicit ComMailReader(corvane::com::com_ptr<_MailObjectModel> object)
      : object_(std::move(object)) {}

  OpenedEmail open(const std::u16string& path, platform::DropFile& file) override {
    // OpenEmail opens by name, for reading and writing: let it, while the round's handle keeps
    // the file from being removed or replaced (else OpenEmail would create it anew, empty).
    file.share_for_open_by_name();
    return client::open_email(*object_.get(), path);
  }

 private:
  corvane::com::com_ptr<_MailObjectModel> object_;
};

}  // namespace

ComSession::ComSession()
    : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}

ComSession::~ComSession() {
  if (initialized_) CoUninitialize();
}

MailReaderFactory com_mail_reader_factory() {
  return []() -> std::unique_ptr<MailReader> {
    return std::make_unique<ComMailReader>(client::create_mail_object());
  };
}

}  // namespace sorter::ui
