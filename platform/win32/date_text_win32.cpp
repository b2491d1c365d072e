// Boolean and date texts on Windows: the automation runtime's own conversions in the user's
// locale, so the texts match what every other automation client of the machine shows.

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "platform/automation_error.h"
#include "platform/locale_text.h"
#include "platform/oa_date.h"

namespace platform {
namespace {

// Takes ownership of a BSTR produced by a conversion and returns its text.
std::u16string take_bstr(HRESULT hr, BSTR text) {
  if (FAILED(hr)) {
    if (hr == E_OUTOFMEMORY) throw AutomationError(errnum::kOutOfMemory);
    if (hr == DISP_E_OVERFLOW) throw AutomationError(errnum::kOverflow);
    throw AutomationError(errnum::kInvalidCall);
  }
  std::u16string out(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
  SysFreeString(text);
  return out;
}

}  // namespace

std::u16string boolean_text(bool value) {
  BSTR text = nullptr;
  const VARIANT_BOOL flag = value ? VARIANT_TRUE : VARIANT_FALSE;
  const HRESULT hr = VarBstrFromBool(flag, LOCALE_USER_DEFAULT, VAR_LOCALBOOL, &text);
  return take_bstr(hr, text);
}

std::u16string date_text(double oa_date) {
  // The same range check as on every platform: NaN and dates outside years 100..9999 are
  // rejected with error 5 before the system conversion sees them.
  (void)oa_date_parts(oa_date);
  BSTR text = nullptr;
  const HRESULT hr = VarBstrFromDate(oa_date, LOCALE_USER_DEFAULT, 0, &text);
  return take_bstr(hr, text);
}

}  // namespace platform
