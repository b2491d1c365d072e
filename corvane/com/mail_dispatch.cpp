// IDispatch of the MailObjectModel object. Names and dispatch identifiers come from the type
// library. Members without records are invoked by the system from the type information; the
// members that take or return records are invoked here, because the system's type-driven
// invocation does not handle VT_RECORD everywhere: their arguments are unpacked by Arguments,
// the early-bound method is called, and the result is packed as a VARIANT.

#include "corvane/com/com_error.h"
#include "corvane/com/dispatch_args.h"
#include "corvane/com/mail_object.h"
#include "corvane/com/type_library.h"

namespace corvane::com {
namespace {

enum Member : DISPID {
  kFindLessonIndex = 0x60030002,
  kConvertFont = 0x60030005,
  kRetrieveFont = 0x60030006,
  kSaveEmail = 0x60030007,
  kOpenEmail = 0x60030008,
  kAddAttachment = 0x60030009,
  kSaveTemplate = 0x6003000A,
  kOpenTemplate = 0x6003000B,
  kDebugTemplate = 0x6003000C,
  kDebugEmail = 0x6003000D,
  kSaveLesson = 0x6003000F,
  kOpenLesson = 0x60030010,
};

// The number of parameters of a record member (without its result), 0 for the other members.
UINT record_member_parameters(DISPID id) {
  switch (id) {
    case kConvertFont: case kRetrieveFont: case kOpenEmail: case kOpenTemplate:
    case kOpenLesson:
      return 1;
    case kFindLessonIndex: case kSaveEmail: case kSaveTemplate: case kDebugTemplate:
    case kDebugEmail: case kSaveLesson:
      return 2;
    case kAddAttachment:
      return 3;
    default:
      return 0;
  }
}

// Calls one record member through the early-bound interface; answers its result code.
HRESULT invoke_record_member(_MailObjectModel& object, DISPID id, const Arguments& args,
                             VARIANT* result) {
  HRESULT hr = S_OK;
  VARIANT_BOOL flag = VARIANT_FALSE;
  switch (id) {
    case kFindLessonIndex: {
      short index = 0;
      hr = object.findLessonIndex(args.record<::EmailLesson>(0), args.integer(1), &index);
      if (SUCCEEDED(hr)) set_integer_result(result, index);
      return hr;
    }
    case kConvertFont: {
      owned_udt<::SaveableFont> font;
      hr = object.ConvertFont(args.font(0).get(), &font.get());
      if (SUCCEEDED(hr)) set_record_result(result, font);
      return hr;
    }
    case kRetrieveFont: {
      com_ptr<IFontDisp> font;
      hr = object.RetrieveFont(args.record<::SaveableFont>(0), font.put());
      if (SUCCEEDED(hr)) set_result(result, std::move(font));
      return hr;
    }
    case kSaveEmail:
      hr = object.SaveEmail(args.text(0).get(), args.record<::EmailMsg>(1), &flag);
      break;
    case kOpenEmail: {
      owned_udt<::EmailMsg> email;
      hr = object.OpenEmail(args.text(0).get(), &email.get());
      if (SUCCEEDED(hr)) set_record_result(result, email);
      return hr;
    }
    case kAddAttachment:
      hr = object.AddAttachment(args.text(0).get(), args.text(1).get(),
                                args.record<::EmailMsg>(2), &flag);
      break;
    case kSaveTemplate:
      hr = object.SaveTemplate(args.text(0).get(), args.record<::MsgContents>(1), &flag);
      break;
    case kOpenTemplate: {
      owned_udt<::MsgContents> contents;
      hr = object.OpenTemplate(args.text(0).get(), &contents.get());
      if (SUCCEEDED(hr)) set_record_result(result, contents);
      return hr;
    }
    case kDebugTemplate:
    case kDebugEmail: {
      unique_bstr text;
      hr = id == kDebugTemplate
               ? object.DebugTemplate(args.record<::MsgContents>(0), args.optional_boolean(1),
                                      text.put())
               : object.DebugEmail(args.record<::EmailMsg>(0), args.optional_boolean(1),
                                   text.put());
      if (SUCCEEDED(hr)) set_result(result, std::move(text));
      return hr;
    }
    case kSaveLesson:
      hr = object.SaveLesson(args.text(0).get(), args.record<::EmailLesson>(1), &flag);
      break;
    case kOpenLesson: {
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
  const UINT parameters = record_member_parameters(id);
  if (parameters == 0) {
    com_ptr<ITypeInfo> info;
    const HRESULT hr = com_call([&] { info = type_info_of(IID__MailObjectModel); });
    if (FAILED(hr)) return hr;
    return DispInvoke(static_cast<_MailObjectModel*>(this), info.get(), id, flags, params, result,
                      exception, arg_error);
  }
  if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
  HRESULT hr = S_OK;
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
