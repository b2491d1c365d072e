#include "corvane/com/client/mail_client.h"

#include "corvane/com/udt_convert.h"
#include "corvane/model/library_identity.h"

namespace corvane::com::client {

com_ptr<_MailObjectModel> create_mail_object() {
  com_ptr<_MailObjectModel> object;
  const HRESULT hr = CoCreateInstance(CLSID_MailObjectModel, nullptr, CLSCTX_INPROC_SERVER,
                                      IID__MailObjectModel, object.put_void());
  if (FAILED(hr) || !object)
    throw platform::AutomationError(static_cast<int32_t>(hr),
                                    u"" CORVANE_PROG_ID " could not be created");
  return object;
}

std::optional<platform::AutomationError> take_error_info() {
  com_ptr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return std::nullopt;
  unique_bstr source, description;
  DWORD number = 0;
  info->GetSource(source.put());
  info->GetDescription(description.put());
  info->GetHelpContext(&number);
  return platform::AutomationError(static_cast<int32_t>(number), bstr_text(description.get()),
                                   bstr_text(source.get()));
}

platform::AutomationError failure_of_call(HRESULT hr, std::u16string_view what) {
  const auto code = static_cast<uint32_t>(hr);
  if ((code & 0xFFFF0000u) == 0x800A0000u)
    return platform::AutomationError(static_cast<int32_t>(code & 0xFFFFu));
  return platform::AutomationError(static_cast<int32_t>(code), std::u16string(what));
}

corvane::OpenedEmail open_email(_MailObjectModel& object, std::u16string_view path) {
  const auto name = make_bstr(path);
  owned_udt<::EmailMsg> record;
  const HRESULT hr = object.OpenEmail(name.get(), &record.get());
  // Taken at once, before any other call can replace the thread's error information.
  corvane::OpenedEmail opened;
  opened.failure = take_error_info();
  if (FAILED(hr)) {
    if (!opened.failure) opened.failure = failure_of_call(hr, u"OpenEmail failed");
    return opened;
  }
  opened.email = from_udt(record.get());
  return opened;
}

}  // namespace corvane::com::client
