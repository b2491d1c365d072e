#include "sorter/ui/com_mail_reader.h"

#include <windows.h>
#include <ole2.h>

#include "corvane/com/corvane_idl.h"
#include "corvane/com/pending_failure.h"
#include "corvane/com/udt_convert.h"
#include "corvane/com/unique_resource.h"

namespace sorter::ui {
namespace {

// The automation error of a failed call: 0x800A0000 + n carries error number n.
platform::AutomationError failure_of_call(HRESULT hr) {
  const auto code = static_cast<uint32_t>(hr);
  if ((code & 0xFFFF0000u) == 0x800A0000u)
    return platform::AutomationError(static_cast<int32_t>(code & 0xFFFFu));
  return platform::AutomationError(static_cast<int32_t>(code), u"OpenEmail failed");
}

class ComMailReader final : public MailReader {
 public:
  explicit ComMailReader(_MailObjectModel* object) : object_(object) {}
  ~ComMailReader() override { object_->Release(); }
  ComMailReader(const ComMailReader&) = delete;
  ComMailReader& operator=(const ComMailReader&) = delete;

  OpenedEmail open(const std::u16string& path) override {
    const auto name = corvane::com::make_bstr(path);
    ::EmailMsg record{};
    const HRESULT hr = object_->OpenEmail(name.get(), &record);
    // Taken at once, before any other call can replace the thread's error information.
    OpenedEmail opened;
    opened.failure = corvane::com::take_pending_failure();
    if (FAILED(hr)) {
      // A failed call reads nothing: the file is handled as unreadable.
      corvane::com::clear_udt(record);
      if (!opened.failure) opened.failure = failure_of_call(hr);
      return opened;
    }
    try {
      opened.email = corvane::com::from_udt(record);
    } catch (...) {
      corvane::com::clear_udt(record);
      throw;
    }
    corvane::com::clear_udt(record);
    return opened;
  }

 private:
  _MailObjectModel* object_;
};

}  // namespace

ComSession::ComSession()
    : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}

ComSession::~ComSession() {
  if (initialized_) CoUninitialize();
}

MailReaderFactory com_mail_reader_factory() {
  return []() -> std::unique_ptr<MailReader> {
    _MailObjectModel* object = nullptr;
    const HRESULT hr = CoCreateInstance(__uuidof(MailObjectModel), nullptr, CLSCTX_INPROC_SERVER,
                                        __uuidof(_MailObjectModel),
                                        reinterpret_cast<void**>(&object));
    if (FAILED(hr) || !object)
      throw platform::AutomationError(static_cast<int32_t>(hr),
                                      u"Corvane.MailObjectModel could not be created");
    return std::make_unique<ComMailReader>(object);
  };
}

}  // namespace sorter::ui
