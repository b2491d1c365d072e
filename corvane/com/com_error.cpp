#include "corvane/com/com_error.h"

#include <new>
#include <stdexcept>

#include "corvane/com/corvane_idl.h"
#include "corvane/com/unique_resource.h"
#include "corvane/model/library_identity.h"
#include "platform/utf.h"

namespace corvane::com {

HRESULT hresult_of(int32_t number) noexcept {
  if (number < 0) return static_cast<HRESULT>(number);
  if (number >= 1 && number <= 0xFFFF) return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number);
  return E_FAIL;
}

int32_t number_of(HRESULT hr) noexcept {
  if (HRESULT_FACILITY(hr) == FACILITY_CONTROL && FAILED(hr)) return HRESULT_CODE(hr);
  return static_cast<int32_t>(hr);
}

IErrorInfo* make_error_info(const platform::AutomationError& error) noexcept {
  com_ptr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.put()))) return nullptr;
  create->SetGUID(IID__MailObjectModel);
  create->SetSource(make_bstr_nothrow(error.source()).get());
  create->SetDescription(make_bstr_nothrow(error.description()).get());
  create->SetHelpContext(static_cast<DWORD>(error.number()));
  return create.query<IErrorInfo>(IID_IErrorInfo).release();
}

HRESULT report(const platform::AutomationError& error) noexcept {
  auto info = com_ptr<IErrorInfo>::attach(make_error_info(error));
  SetErrorInfo(0, info.get());
  return hresult_of(error.number());
}

platform::AutomationError current_exception_error() noexcept {
  try {
    try {
      throw;
    } catch (const platform::AutomationError& e) {
      auto copy = e;
      copy.with_source_if_empty(kProgId);
      return copy;
    } catch (const std::bad_alloc&) {
      return platform::AutomationError(platform::errnum::kOutOfMemory, {}, std::u16string(kProgId));
    } catch (const std::out_of_range&) {
      return platform::AutomationError(platform::errnum::kSubscriptRange, {},
                                       std::u16string(kProgId));
    } catch (const std::exception& e) {
      return platform::AutomationError(platform::errnum::kInvalidCall, platform::from_utf8(e.what()),
                                       std::u16string(kProgId));
    } catch (...) {
      return platform::AutomationError(platform::errnum::kInvalidCall, {}, std::u16string(kProgId));
    }
  } catch (...) {
    // Building the error itself failed (out of memory): answer the bare number.
    return platform::AutomationError(platform::errnum::kOutOfMemory);
  }
}

}  // namespace corvane::com
