#include "corvane/com/dispatch_args.h"

#include "corvane/com/type_library.h"
#include "platform/automation_error.h"

namespace corvane::com {

Arguments::Arguments(const DISPPARAMS& params, UINT parameter_count) : params_(params) {
  if (params.cArgs > parameter_count || params.cNamedArgs > params.cArgs)
    throw dispatch_failure{DISP_E_BADPARAMCOUNT};
  for (UINT i = 0; i < params.cNamedArgs; ++i) {
    const DISPID named = params.rgdispidNamedArgs[i];
    if (named < 0 || static_cast<UINT>(named) >= parameter_count)
      throw dispatch_failure{DISP_E_PARAMNOTFOUND, i};
  }
}

VARIANT* Arguments::find(UINT index, UINT* position) const {
  VARIANT* found = nullptr;
  const UINT positional = params_.cArgs - params_.cNamedArgs;
  if (index < positional) {
    *position = params_.cArgs - 1 - index;
    found = &params_.rgvarg[*position];
  } else {
    for (UINT i = 0; i < params_.cNamedArgs && !found; ++i) {
      if (params_.rgdispidNamedArgs[i] == static_cast<DISPID>(index)) {
        *position = i;
        found = &params_.rgvarg[i];
      }
    }
  }
  while (found && V_VT(found) == (VT_VARIANT | VT_BYREF)) found = V_VARIANTREF(found);
  return found;
}

VARIANT* Arguments::required(UINT index, UINT* position) const {
  VARIANT* arg = find(index, position);
  if (arg == nullptr || (V_VT(arg) == VT_ERROR && V_ERROR(arg) == DISP_E_PARAMNOTFOUND))
    throw dispatch_failure{DISP_E_PARAMNOTOPTIONAL};
  return arg;
}

unique_variant Arguments::converted(UINT index, VARTYPE type) const {
  UINT position = 0;
  VARIANT* arg = required(index, &position);
  unique_variant out;
  if (FAILED(VariantChangeType(out.get(), arg, 0, type)))
    throw dispatch_failure{DISP_E_TYPEMISMATCH, position};
  return out;
}

unique_bstr Arguments::text(UINT index) const {
  auto value = converted(index, VT_BSTR);
  VARIANT raw = value.release();
  return unique_bstr(V_BSTR(&raw));
}

short Arguments::integer(UINT index) const { return V_I2(converted(index, VT_I2).get()); }

VARIANT_BOOL Arguments::optional_boolean(UINT index) const {
  UINT position = 0;
  VARIANT* arg = find(index, &position);
  if (arg == nullptr || (V_VT(arg) == VT_ERROR && V_ERROR(arg) == DISP_E_PARAMNOTFOUND))
    return VARIANT_FALSE;
  return V_BOOL(converted(index, VT_BOOL).get());
}

com_ptr<IFontDisp> Arguments::font(UINT index) const {
  UINT position = 0;
  VARIANT* arg = required(index, &position);
  IUnknown* object = nullptr;
  switch (V_VT(arg)) {
    case VT_EMPTY: case VT_NULL: return nullptr;
    case VT_DISPATCH: object = V_DISPATCH(arg); break;
    case VT_UNKNOWN: object = V_UNKNOWN(arg); break;
    case VT_DISPATCH | VT_BYREF: object = *V_DISPATCHREF(arg); break;
    case VT_UNKNOWN | VT_BYREF: object = *V_UNKNOWNREF(arg); break;
    default: throw dispatch_failure{DISP_E_TYPEMISMATCH, position};
  }
  if (object == nullptr) return nullptr;
  com_ptr<IFontDisp> font;
  if (FAILED(object->QueryInterface(IID_IFontDisp, font.put_void())))
    throw dispatch_failure{DISP_E_TYPEMISMATCH, position};
  return font;
}

void* Arguments::record_of(UINT index, const GUID& guid) const {
  UINT position = 0;
  VARIANT* arg = required(index, &position);
  const VARTYPE vt = V_VT(arg) & ~VT_BYREF;
  GUID actual{};
  if (vt != VT_RECORD || V_RECORD(arg) == nullptr || V_RECORDINFO(arg) == nullptr ||
      FAILED(V_RECORDINFO(arg)->GetGuid(&actual)) || !IsEqualGUID(actual, guid))
    throw dispatch_failure{DISP_E_TYPEMISMATCH, position};
  return V_RECORD(arg);
}

void set_boolean_result(VARIANT* result, VARIANT_BOOL value) {
  if (!result) return;
  V_VT(result) = VT_BOOL;
  V_BOOL(result) = value;
}

void set_integer_result(VARIANT* result, short value) {
  if (!result) return;
  V_VT(result) = VT_I2;
  V_I2(result) = value;
}

void set_result(VARIANT* result, unique_bstr value) {
  if (!result) return;
  V_VT(result) = VT_BSTR;
  V_BSTR(result) = value.release();
}

void set_result(VARIANT* result, com_ptr<IFontDisp> value) {
  if (!result) return;
  V_VT(result) = VT_DISPATCH;
  V_DISPATCH(result) = value.release();
}

void set_record_result(VARIANT* result, const GUID& guid, void* record, size_t,
                       void (*move)(void* from, void* to) noexcept) {
  if (!result) return;  // the owned record frees itself
  auto info = record_info_of(guid);
  void* memory = info->RecordCreate();
  if (memory == nullptr) throw platform::AutomationError(platform::errnum::kOutOfMemory);
  move(record, memory);
  V_VT(result) = VT_RECORD;
  V_RECORD(result) = memory;
  V_RECORDINFO(result) = info.release();
}

}  // namespace corvane::com
