// IDispatch of the MailObjectModel object. Names and parameter counts come from the type
// library, dispatch identifiers from dispatch_ids.h, which the IDL includes too. Members
// without records are invoked by the system from the type information; the members that take
// or return records are invoked here, because the system's type-driven invocation does not
// handle VT_RECORD everywhere: their arguments are unpacked by Arguments, the early-bound
// method is called, and the result is packed as a VARIANT.

#include "corvane/com/com_error.h"
#include "corvane/com/dispatch_args.h"
#include "corvane/com/dispatch_ids.h"
#include "corvane/com/mail_object.h"
#include "corvane/com/type_library.h"

namespace corvane::com {
namespace {

// The members that take or return records, invoked here rather than by the system.
bool is_record_member(DISPID id) {
  switch (id) {
    case DISPID_findLessonIndex: case DISPID_ConvertFont: case DISPID_RetrieveFont:
    case DISPID_SaveEmail: case DISPID_OpenEmail: case DISPID_AddAttachment:
    case DISPID_SaveTemplate: case DISPID_OpenTemplate: case DISPID_DebugTemplate:
    case DISPID_DebugEmail: case DISPID_SaveLesson: case DISPID_OpenLesson:
      return true;
    default:
      return false;
  }
}

// The number of parameters of a method as the type library declares it, its result not
// counted. Throws AutomationError (invalid call) for an identifier it does not hold.
UINT parameters_of(ITypeInfo& info, DISPID id) {
  TYPEATTR* attr = nullptr;
  if (FAILED(info.GetTypeAttr(&attr)))
    throw platform::AutomationError(platform::errnum::kOutOfMemory);
  const UINT functions = attr->cFuncs;
  info.ReleaseTypeAttr(attr);
  for (UINT i = 0; i < functions; ++i) {
    FUNCDESC* func = nullptr;
    if (FAILED(info.GetFuncDesc(i, &func))) continue;
    UINT count = 0;
    const bool found = func->memid == id && func->invkind == INVOKE_FUNC;
    for (SHORT p = 0; found && p < func->cParams; ++p)
      if (!(func->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) ++count;
    info.ReleaseFuncDesc(func);
    if (found) return count;
  }
  throw platform::AutomationError(platform::errnum::kInvalidCall);
}

// Calls one record member through the early-bound interface; answers its result code.
HRESULT invoke_record_member(_MailObjectModel& object, DISPID id, const Arguments& args,
                             VARIANT* result) {
  HRESULT hr = S_OK;
  VARIANT_BOOL flag = VARIANT_FALSE;
  switch (id) {
    case DISPID_findLessonIndex: {
      short index = 0;
      hr = object.findLessonIndex(args.record<::EmailLesson>(0), args.integer(1), &index);
      if (SUCCEEDED(hr)) set_integer_result(result, index);
      return hr;
    }
    case DISPID_ConvertFont: {
      owned_udt<::SaveableFont> font;
      hr = object.ConvertFont(args.font(0).get(), &font.get());
      if (SUCCEEDED(hr)) set_record_result(result, font);
      return hr;
    }
    case DISPID_RetrieveFont: {
      com_ptr<IFontDisp> font;
      hr = object.RetrieveFont(args.record<::SaveableFont>(0), font.put());
      if (SUCCEEDED(hr)) set_result(result, std::move(font));
      return hr;
    }
    case DISPID_SaveEmail:
      hr = object.SaveEmail(args.text(0).get(), args.record<::EmailMsg>(1), &flag);
      break;
    case DISPID_OpenEmail: {
      owned_udt<::EmailMsg> email;
      hr = object.OpenEmail(args.text(0).get(), &email.get());
      if (SUCCEEDED(hr)) set_record_result(result, email);
      return hr;
    }
    case DISPID_AddAttachment:
      hr = object.AddAttachment(args.text(0).get(), args.text(1).get(),
                                args.record<::EmailMsg>(2), &flag);
      break;
    case DISPID_SaveTemplate:
      hr = object.SaveTemplate(args.text(0).get(), args.record<::MsgContents>(1), &flag);
      break;
    case DISPID_OpenTemplate: {
      owned_udt<::MsgContents> contents;
      hr = object.OpenTemplate(args.text(0).get(), &contents.get());
      if (SUCCEEDED(hr)) set_record_result(result, contents);
      return hr;
    }
    case DISPID_DebugTemplate:
    case DISPID_DebugEmail: {
      unique_bstr text;
      hr = id == DISPID_DebugTemplate
               ? object.DebugTemplate(args.record<::MsgContents>(0), args.optional_boolean(1),
                                      text.put())
               : object.DebugEmail(args.record<::EmailMsg>(0), args.optional_boolean(1),
                                   text.put());
      if (SUCCEEDED(hr)) set_result(result, std::move(text));
      return hr;
    }
    case DISPID_SaveLesson:
      hr = object.SaveLesson(args.text(0).get(), args.record<::EmailLesson>(1), &flag);
      break;
    case DISPID_OpenLesson: {
      owned_udt<::EmailLesson> lesson;
      hr = object.OpenLesson(args.text(0).get(), &lesson.get());
      if (SUCCEEDED(hr)) set_record_result(result, lesson);
      return hr;
    }
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
  if (SUCCEEDED(hr)) set_boolean_result(result, flag);
  return hr;
}

// Moves a failed call's error information into the caller's EXCEPINFO.
HRESULT exception_result(HRESULT hr, EXCEPINFO* exception) {
  if (exception == nullptr) return hr;
  *exception = EXCEPINFO{};
  exception->scode = hr;
  IErrorInfo* raw = nullptr;
  if (GetErrorInfo(0, &raw) == S_OK && raw != nullptr) {
    auto info = com_ptr<IErrorInfo>::attach(raw);
    info->GetSource(&exception->bstrSource);
    info->GetDescription(&exception->bstrDescription);
    info->GetHelpFile(&exception->bstrHelpFile);
    info->GetHelpContext(&exception->dwHelpContext);
  }
  return DISP_E_EXCEPTION;
}

}  // namespace

HRESULT MailObject::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT MailObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return com_call([&] { *info = type_info_of(IID__MailObjectModel).release(); });
}

HRESULT MailObject::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                  DISPID* ids) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  com_ptr<ITypeInfo> info;
  const HRESULT hr = com_call([&] { info = type_info_of(IID__MailObjectModel); });
  if (FAILED(hr)) return hr;
  return DispGetIDsOfNames(info.get(), names, count, ids);
}

HRESULT MailObject::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* exception, UINT* arg_error) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (params == nullptr) return E_POINTER;
  if (result) VariantInit(result);
  com_ptr<ITypeInfo> info;
  HRESULT hr = com_call([&] { info = type_info_of(IID__MailObjectModel); });
  if (FAILED(hr)) return hr;
  if (!is_record_member(id))
    return DispInvoke(static_cast<_MailObjectModel*>(this), info.get(), id, flags, params, result,
                      exception, arg_error);
  if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
  UINT parameters = 0;
  hr = com_call([&] { parameters = parameters_of(*info.get(), id); });
  if (FAILED(hr)) return hr;
  try {
    const Arguments args(*params, parameters);
    hr = invoke_record_member(*this, id, args, result);
  } catch (const dispatch_failure& failure) {
    if (arg_error) *arg_error = failure.argument;
    return failure.hr;
  } catch (...) {
    hr = report(current_exception_error());
  }
  return FAILED(hr) ? exception_result(hr, exception) : hr;
}

}  // namespace corvane::com
