#include "corvane/com/mail_object.h"

#include <optional>

#include "corvane/com/com_error.h"
#include "corvane/com/ole_font.h"
#include "corvane/com/server_module.h"
#include "corvane/com/udt_convert.h"
#include "corvane/com/unique_resource.h"
#include "corvane/model/error_text.h"

namespace corvane::com {
namespace {

VARIANT_BOOL variant_bool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// Runs body for a method with required pointer arguments: E_POINTER when one is null.
template <class Body, class... Pointers>
HRESULT checked_call(Body&& body, Pointers*... pointers) noexcept {
  if (((pointers == nullptr) || ...)) return E_POINTER;
  return com_call(std::forward<Body>(body));
}

// Moves a core record into a caller's [out, retval] record.
template <class U, class Core>
void return_record(const Core& core, U* out) {
  owned_udt<U> result;
  to_udt(core, result.get());
  result.release_to(*out);
}

// The record argument of a catching operation, converted as part of the operation: a record
// that cannot be converted (a list of two dimensions or of the wrong element type) fails the
// operation like any other of its failures, with False and `message` in ErrorString, instead
// of failing the call. Answers nothing then.
template <class Convert>
auto caught_record(MailObjectModel& model, Convert&& convert,
                   std::u16string (*message)(const platform::AutomationError&))
    -> std::optional<decltype(convert())> {
  try {
    return with_library_source(convert);
  } catch (...) {
    model.set_ErrorString(message(current_exception_error()));
    return std::nullopt;
  }
}

std::u16string save_email_error(const platform::AutomationError& e) {
  return save_error_text(u"SaveEmail", e);
}
std::u16string save_template_error(const platform::AutomationError& e) {
  return save_error_text(u"SaveTemplate", e);
}

}  // namespace

MailObject::MailObject() : model_(library_presenter(), library_fonts()) { object_created(); }
MailObject::~MailObject() { object_destroyed(); }

HRESULT MailObject::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, IID__MailObjectModel)) {
    *out = static_cast<_MailObjectModel*>(this);
  } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
    *out = static_cast<ISupportErrorInfo*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG MailObject::AddRef() { return ++references_; }

ULONG MailObject::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT MailObject::InterfaceSupportsErrorInfo(REFIID iid) {
  return IsEqualIID(iid, IID__MailObjectModel) ? S_OK : S_FALSE;
}

HRESULT MailObject::get_ErrorString(BSTR* ErrorString) {
  return checked_call([&] { *ErrorString = make_bstr(model_.ErrorString()).release(); }, ErrorString);
}

HRESULT MailObject::put_ErrorString(BSTR ErrorString) {
  return com_call([&] { model_.set_ErrorString(bstr_text(ErrorString)); });
}

HRESULT MailObject::ConvertLesson2CSV(BSTR LessonPath, BSTR CSVPath, VARIANT_BOOL* Result) {
  return checked_call([&] {
    *Result = variant_bool(model_.ConvertLesson2CSV(bstr_text(LessonPath), bstr_text(CSVPath)));
  }, Result);
}

HRESULT MailObject::ConvertCSV2Lesson(BSTR CSVPath, BSTR LessonPath, VARIANT_BOOL* Result) {
  return checked_call([&] {
    *Result = variant_bool(model_.ConvertCSV2Lesson(bstr_text(CSVPath), bstr_text(LessonPath)));
  }, Result);
}

HRESULT MailObject::findLessonIndex(::EmailLesson* elePatient, short Key, short* Result) {
  return checked_call([&] { *Result = model_.findLessonIndex(from_udt(*elePatient), Key); },
                      elePatient, Result);
}

HRESULT MailObject::SplitCSVLine(BSTR strLine, SAFEARRAY** Result) {
  return checked_call([&] { *Result = to_safearray(model_.SplitCSVLine(bstr_text(strLine))); },
                      Result);
}

HRESULT MailObject::ConvertFont(IFontDisp* argFont, ::SaveableFont* Result) {
  return checked_call([&] {
    const auto font = wrap_ole_font(argFont);
    return_record(model_.ConvertFont(font.get()), Result);
  }, Result);
}

HRESULT MailObject::RetrieveFont(::SaveableFont* argFont, IFontDisp** Result) {
  return checked_call([&] {
    const auto font = model_.RetrieveFont(from_udt(*argFont));
    *Result = dynamic_cast<const OleFont&>(*font).font_disp().release();
  }, argFont, Result);
}

HRESULT MailObject::SaveEmail(BSTR strPath, ::EmailMsg* Email, VARIANT_BOOL* Result) {
  return checked_call([&] {
    const auto email = caught_record(model_, [&] { return from_udt(*Email); }, save_email_error);
    *Result = variant_bool(email && model_.SaveEmail(bstr_text(strPath), *email));
  }, Email, Result);
}

HRESULT MailObject::OpenEmail(BSTR strPath, ::EmailMsg* Result) {
  return checked_call([&] {
    const auto [email, failure] = model_.OpenEmail(bstr_text(strPath));
    return_record(email, Result);
    // The call succeeds either way; a failure to read reaches the caller as the thread's error
    // information, which a successful read clears.
    auto info = com_ptr<IErrorInfo>::attach(failure ? make_error_info(*failure) : nullptr);
    SetErrorInfo(0, info.get());
  }, Result);
}

HRESULT MailObject::AddAttachment(BSTR strOriginalPath, BSTR strNewPath, ::EmailMsg* Email,
                                  VARIANT_BOOL* Result) {
  return checked_call([&] {
    const auto before =
        caught_record(model_, [&] { return from_udt(*Email); }, attachment_error_text);
    *Result = VARIANT_FALSE;
    if (!before) return;
    auto after = *before;
    const bool added = model_.AddAttachment(bstr_text(strOriginalPath), bstr_text(strNewPath), after);
    write_back(*before, after, *Email);
    *Result = variant_bool(added);
  }, Email, Result);
}

HRESULT MailObject::SaveTemplate(BSTR strPath, ::MsgContents* Template, VARIANT_BOOL* Result) {
  return checked_call([&] {
    const auto contents =
        caught_record(model_, [&] { return from_udt(*Template); }, save_template_error);
    *Result = variant_bool(contents && model_.SaveTemplate(bstr_text(strPath), *contents));
  }, Template, Result);
}

HRESULT MailObject::OpenTemplate(BSTR strPath, ::MsgContents* Result) {
  return checked_call([&] { return_record(model_.OpenTemplate(bstr_text(strPath)), Result); },
                      Result);
}

HRESULT MailObject::DebugTemplate(::MsgContents* argValue, VARIANT_BOOL blShow, BSTR* Result) {
  return checked_call([&] { *Result = make_bstr(model_.DebugTemplate(from_udt(*argValue), blShow)).release(); },
                      argValue, Result);
}

HRESULT MailObject::DebugEmail(::EmailMsg* argValue, VARIANT_BOOL blShow, BSTR* Result) {
  return checked_call([&] { *Result = make_bstr(model_.DebugEmail(from_udt(*argValue), blShow)).release(); },
                      argValue, Result);
}

HRESULT MailObject::IsRead(BSTR Path, VARIANT_BOOL* Result) {
  return checked_call([&] { *Result = variant_bool(model_.IsRead(bstr_text(Path))); }, Result);
}

HRESULT MailObject::SaveLesson(BSTR Path, ::EmailLesson* Lesson, VARIANT_BOOL* Result) {
  return checked_call([&] {
    const auto lesson =
        caught_record(model_, [&] { return from_udt(*Lesson); }, lesson_save_error_text);
    *Result = variant_bool(lesson && model_.SaveLesson(bstr_text(Path), *lesson));
  }, Lesson, Result);
}

HRESULT MailObject::OpenLesson(BSTR Path, ::EmailLesson* Result) {
  return checked_call([&] { return_record(model_.OpenLesson(bstr_text(Path)), Result); }, Result);
}

HRESULT MailObject::DisplayLesson(BSTR Path, VARIANT* Result) {
  return checked_call([&] {
    model_.DisplayLesson(bstr_text(Path));
    VariantInit(Result);
  }, Result);
}

HRESULT MailObject::ShowTime(VARIANT* Result) {
  return checked_call([&] {
    model_.ShowTime();
    VariantInit(Result);
  }, Result);
}

}  // namespace corvane::com
