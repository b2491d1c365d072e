#pragma once
// The COM object of class MailObjectModel: the core class behind the dual interface
// _MailObjectModel. Each method converts its automation arguments to the core's types, calls
// the core, and converts the results back; failures leave through com_call().

#include <windows.h>
#include <ole2.h>

#include <atomic>

#include "corvane/com/corvane_idl.h"
#include "corvane/object_model/mail_object_model.h"

namespace corvane::com {

class MailObject final : public _MailObjectModel, public ISupportErrorInfo {
 public:
  MailObject();
  ~MailObject();
  MailObject(const MailObject&) = delete;
  MailObject& operator=(const MailObject&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  // IDispatch (mail_dispatch.cpp)
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* arg_error) override;

  // _MailObjectModel
  HRESULT STDMETHODCALLTYPE get_ErrorString(BSTR* ErrorString) override;
  HRESULT STDMETHODCALLTYPE put_ErrorString(BSTR ErrorString) override;
  HRESULT STDMETHODCALLTYPE ConvertLesson2CSV(BSTR LessonPath, BSTR CSVPath,
                                              VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE ConvertCSV2Lesson(BSTR CSVPath, BSTR LessonPath,
                                              VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE findLessonIndex(::EmailLesson* elePatient, short Key,
                                            short* Result) override;
  HRESULT STDMETHODCALLTYPE SplitCSVLine(BSTR strLine, SAFEARRAY** Result) override;
  HRESULT STDMETHODCALLTYPE ConvertFont(IFontDisp* argFont, ::SaveableFont* Result) override;
  HRESULT STDMETHODCALLTYPE RetrieveFont(::SaveableFont* argFont, IFontDisp** Result) override;
  HRESULT STDMETHODCALLTYPE SaveEmail(BSTR strPath, ::EmailMsg* Email,
                                      VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE OpenEmail(BSTR strPath, ::EmailMsg* Result) override;
  HRESULT STDMETHODCALLTYPE AddAttachment(BSTR strOriginalPath, BSTR strNewPath,
                                          ::EmailMsg* Email, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE SaveTemplate(BSTR strPath, ::MsgContents* Template,
                                         VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE OpenTemplate(BSTR strPath, ::MsgContents* Result) override;
  HRESULT STDMETHODCALLTYPE DebugTemplate(::MsgContents* argValue, VARIANT_BOOL blShow,
                                          BSTR* Result) override;
  HRESULT STDMETHODCALLTYPE DebugEmail(::EmailMsg* argValue, VARIANT_BOOL blShow,
                                       BSTR* Result) override;
  HRESULT STDMETHODCALLTYPE IsRead(BSTR Path, VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE SaveLesson(BSTR Path, ::EmailLesson* Lesson,
                                       VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE OpenLesson(BSTR Path, ::EmailLesson* Result) override;
  HRESULT STDMETHODCALLTYPE DisplayLesson(BSTR Path, VARIANT* Result) override;
  HRESULT STDMETHODCALLTYPE ShowTime(VARIANT* Result) override;

 private:
  std::atomic<ULONG> references_{1};
  corvane::MailObjectModel model_;
};

}  // namespace corvane::com
