#pragma once
// Reading the arguments of an IDispatch::Invoke call and writing its result, for the members
// the server invokes with its own code (those that take or return records). Parameters are
// addressed by their index in the member's declaration; positional and named arguments are
// both resolved here.

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include "corvane/com/unique_resource.h"
#include "corvane/com/udt_convert.h"

namespace corvane::com {

// A failed argument or result conversion: the Invoke result code and the offending argument's
// position in rgvarg.
struct dispatch_failure {
  HRESULT hr;
  UINT argument = 0;
};

class Arguments {
 public:
  // Throws dispatch_failure when there are more arguments than parameters or a named argument
  // names no parameter.
  Arguments(const DISPPARAMS& params, UINT parameter_count);

  // Converted copies of the caller's values; required parameters throw when missing.
  unique_bstr text(UINT index) const;
  short integer(UINT index) const;
  // An omitted optional (missing, or VT_ERROR DISP_E_PARAMNOTFOUND) is False.
  VARIANT_BOOL optional_boolean(UINT index) const;
  com_ptr<IFontDisp> font(UINT index) const;

  // The caller's record itself (in/out), checked to be of type U.
  template <class U>
  U* record(UINT index) const {
    return static_cast<U*>(record_of(index, record_guid<U>()));
  }

 private:
  // The argument for a parameter (by-reference variants followed), null when not passed.
  VARIANT* find(UINT index, UINT* position) const;
  VARIANT* required(UINT index, UINT* position) const;
  unique_variant converted(UINT index, VARTYPE type) const;
  void* record_of(UINT index, const GUID& guid) const;

  const DISPPARAMS& params_;
};

// Result writers; `result` may be null (the caller discards the result).
void set_boolean_result(VARIANT* result, VARIANT_BOOL value);
void set_integer_result(VARIANT* result, short value);
void set_result(VARIANT* result, unique_bstr value);
void set_result(VARIANT* result, com_ptr<IFontDisp> value);
// Hands an owned record to the caller as VT_RECORD (memory from IRecordInfo::RecordCreate).
template <class U>
void set_record_result(VARIANT* result, owned_udt<U>& record);
void set_record_result(VARIANT* result, const GUID& guid, void* record, size_t size,
                       void (*move)(void* from, void* to) noexcept);

template <class U>
void set_record_result(VARIANT* result, owned_udt<U>& record) {
  set_record_result(result, record_guid<U>(), &record, sizeof(U), [](void* from, void* to) noexcept {
    static_cast<owned_udt<U>*>(from)->release_to(*static_cast<U*>(to));
  });
}

}  // namespace corvane::com
