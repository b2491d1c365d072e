// Calls the object by name through IDispatch, as scripts and late-bound clients do: names and
// parameter names resolved by GetIDsOfNames, positional and named arguments, the omitted
// optional, records passed and returned as VT_RECORD, failures as DISP_E_EXCEPTION.

#include <gtest/gtest.h>

#include <vector>

#include "com_test_support.h"
#include "corvane/com/type_library.h"
#include "corvane/com/udt_convert.h"
#include "corvane/object_model/mail_object_model.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace comtest;
using corvane::com::owned_udt;
using corvane::com::record_guid;
using corvane::com::unique_variant;
using testsupport::TempDir;
using testsupport::u16;

// A VT_RECORD argument pointing at a record the test owns.
template <class U>
VARIANT record_arg(owned_udt<U>& record, bool by_reference) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = static_cast<VARTYPE>(VT_RECORD | (by_reference ? VT_BYREF : 0));
  V_RECORD(&v) = &record.get();
  V_RECORDINFO(&v) = corvane::com::record_info_of(record_guid<U>()).release();
  return v;
}

// An argument of type vt whose value set() fills in; what it points to stays the test's.
template <class Set>
VARIANT arg(VARTYPE vt, Set set) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = vt;
  set(v);
  return v;
}
VARIANT text_arg(const unique_bstr& text) {
  return arg(VT_BSTR, [&](VARIANT& v) { V_BSTR(&v) = text.get(); });
}

// Takes a VT_RECORD result apart: its core record, with the memory freed by our own code.
// The record memory comes from IRecordInfo::RecordCreate, the process heap.
template <class Core, class U>
Core take_record(VARIANT& result) {
  EXPECT_EQ(V_VT(&result), VT_RECORD);
  if (V_VT(&result) != VT_RECORD) return Core{};
  GUID guid{};
  V_RECORDINFO(&result)->GetGuid(&guid);
  EXPECT_TRUE(IsEqualGUID(guid, record_guid<U>()));
  auto* record = static_cast<U*>(V_RECORD(&result));
  Core core = corvane::com::from_udt(*record);
  corvane::com::clear_udt(*record);
  EXPECT_NE(HeapSize(GetProcessHeap(), 0, record), static_cast<SIZE_T>(-1));
  HeapFree(GetProcessHeap(), 0, record);
  V_RECORDINFO(&result)->Release();
  VariantInit(&result);
  return core;
}

class LateBound : public testing::Test {
 protected:
  void SetUp() override {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(L"Corvane.MailObjectModel", &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               object.put_void()),
              S_OK);
  }

  DISPID id_of(const wchar_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << name;
    return id;
  }

  // Invokes a method; arguments in declaration order, named ones given by parameter index.
  HRESULT call(const wchar_t* name, std::vector<VARIANT> args, VARIANT* result,
               std::vector<DISPID> named = {}, WORD flags = DISPATCH_METHOD) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    // Named arguments go first in rgvarg, in the order of rgdispidNamedArgs.
    std::vector<VARIANT> ordered;
    std::vector<DISPID> named_ids(named.rbegin(), named.rend());
    ordered.insert(ordered.end(), reversed.begin(), reversed.end());
    DISPPARAMS params{ordered.data(), named_ids.empty() ? nullptr : named_ids.data(),
                      static_cast<UINT>(ordered.size()), static_cast<UINT>(named_ids.size())};
    clear_exception();
    const HRESULT hr = object->Invoke(id_of(name), IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                      result, &exception, &arg_error);
    for (auto& arg : args) {
      if ((V_VT(&arg) & ~VT_BYREF) == VT_RECORD) V_RECORDINFO(&arg)->Release();
    }
    return hr;
  }

  void clear_exception() {
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    exception = EXCEPINFO{};
  }
  void TearDown() override { clear_exception(); }

  com_ptr<IDispatch> object;
  EXCEPINFO exception{};
  UINT arg_error = 0;
  TempDir dir;
  corvane::MailObjectModel core;
};

TEST_F(LateBound, NamesAndParameterNamesResolveCaseInsensitively) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"debugemail"), const_cast<LPOLESTR>(L"BLSHOW"),
                      const_cast<LPOLESTR>(L"argValue")};
  DISPID ids[3] = {};
  ASSERT_EQ(object->GetIDsOfNames(IID_NULL, names, 3, LOCALE_USER_DEFAULT, ids), S_OK);
  EXPECT_EQ(ids[0], 0x6003000D);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(ids[2], 0);
  EXPECT_EQ(id_of(L"ErrorString"), 0x40030000);
  EXPECT_EQ(id_of(L"findLessonIndex"), 0x60030002);
  EXPECT_EQ(id_of(L"ShowTime"), 0x60030012);
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
  DISPID id = 0;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id),
            DISP_E_UNKNOWNNAME);
  UINT count = 0;
  EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
}

TEST_F(LateBound, ErrorStringAsAProperty) {
  const auto value = bstr(u"put by name");
  VARIANT arg = text_arg(value);
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{&arg, &put, 1, 1};
  ASSERT_EQ(object->Invoke(id_of(L"ErrorString"), IID_NULL, 0, DISPATCH_PROPERTYPUT, &params,
                           nullptr, nullptr, nullptr),
            S_OK);
  unique_variant result;
  ASSERT_EQ(call(L"ErrorString", {}, result.get(), {}, DISPATCH_PROPERTYGET), S_OK);
  ASSERT_EQ(V_VT(result.get()), VT_BSTR);
  EXPECT_EQ(text(V_BSTR(result.get())), u"put by name");
}

TEST_F(LateBound, RecordsTravelAsVtRecordByValueAndByReference) {
  const auto path = bstr(u16(dir / "late.eml"));
  owned_udt<::EmailMsg> email;
  corvane::com::to_udt(sample_email(), email.get());
  for (bool by_reference : {true, false}) {
    unique_variant saved;
    ASSERT_EQ(call(L"SaveEmail", {text_arg(path), record_arg(email, by_reference)}, saved.get()),
              S_OK);
    ASSERT_EQ(V_VT(saved.get()), VT_BOOL);
    EXPECT_EQ(V_BOOL(saved.get()), VARIANT_TRUE);
    VARIANT opened;
    ASSERT_EQ(call(L"OpenEmail", {text_arg(path)}, &opened), S_OK);
    EXPECT_EQ((take_record<corvane::EmailMsg, ::EmailMsg>(opened)), sample_email());
  }
  // A record of another type is refused as a type mismatch, naming the argument.
  owned_udt<::EmailLesson> lesson;
  unique_variant result;
  EXPECT_EQ(call(L"SaveEmail", {text_arg(path), record_arg(lesson, true)}, result.get()),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arg_error, 0u);
}

TEST_F(LateBound, NamedArgumentsAndTheOmittedOptional) {
  owned_udt<::EmailMsg> email;
  corvane::com::to_udt(sample_email(), email.get());
  const auto expected = core.DebugEmail(sample_email());
  unique_variant only_first, omitted, named;
  ASSERT_EQ(call(L"DebugEmail", {record_arg(email, true)}, only_first.get()), S_OK);
  EXPECT_EQ(text(V_BSTR(only_first.get())), expected);
  const VARIANT missing = arg(VT_ERROR, [](VARIANT& v) { V_ERROR(&v) = DISP_E_PARAMNOTFOUND; });
  ASSERT_EQ(call(L"DebugEmail", {record_arg(email, true), missing}, omitted.get()), S_OK);
  EXPECT_EQ(text(V_BSTR(omitted.get())), expected);
  // blShow:=False, argValue:=email, named in reverse order.
  const VARIANT no = arg(VT_BOOL, [](VARIANT& v) { V_BOOL(&v) = VARIANT_FALSE; });
  ASSERT_EQ(call(L"DebugEmail", {no, record_arg(email, false)}, named.get(), {1, 0}), S_OK);
  EXPECT_EQ(text(V_BSTR(named.get())), expected);

  // Named arguments through the type-driven members too: LessonPath before CSVPath.
  testsupport::write_bytes(dir / "in.csv", {'3', ',', 'a', ',', 'b', ',', 'c', '\r', '\n'});
  const auto csv = bstr(u16(dir / "in.csv"));
  const auto lesson = bstr(u16(dir / "out.lsn"));
  unique_variant converted;
  ASSERT_EQ(call(L"ConvertCSV2Lesson", {text_arg(lesson), text_arg(csv)}, converted.get(), {1, 0}),
            S_OK);
  EXPECT_EQ(V_BOOL(converted.get()), VARIANT_TRUE);
  VARIANT opened;
  ASSERT_EQ(call(L"OpenLesson", {text_arg(lesson)}, &opened), S_OK);
  const auto read = take_record<corvane::EmailLesson, ::EmailLesson>(opened);
  ASSERT_EQ(read.steps.size(), 1u);
  EXPECT_EQ(read.steps.items()[0].Index, 3);

  unique_variant too_many;
  EXPECT_EQ(call(L"OpenLesson", {text_arg(lesson), text_arg(lesson)}, too_many.get()),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(call(L"SaveLesson", {text_arg(lesson)}, too_many.get()), DISP_E_PARAMNOTOPTIONAL);
}

TEST_F(LateBound, RecordResultsAndInOutRecords) {
  testsupport::write_bytes(dir / "a.txt", {'x'});
  owned_udt<::EmailMsg> email;
  corvane::com::to_udt(sample_email(), email.get());
  const auto from = bstr(u16(dir / "a.txt"));
  const auto to = bstr(u16(dir / "b.txt"));
  unique_variant added;
  ASSERT_EQ(call(L"AddAttachment", {text_arg(from), text_arg(to), record_arg(email, true)},
                 added.get()),
            S_OK);
  EXPECT_EQ(V_BOOL(added.get()), VARIANT_TRUE);
  EXPECT_EQ(text(email.get().emAttachments.FilePath), u16(dir / "b.txt"));

  owned_udt<::MsgContents> contents;
  corvane::com::to_udt(sample_contents(), contents.get());
  const auto path = bstr(u16(dir / "t.tpl"));
  unique_variant saved;
  ASSERT_EQ(call(L"SaveTemplate", {text_arg(path), record_arg(contents, true)}, saved.get()), S_OK);
  VARIANT opened;
  ASSERT_EQ(call(L"OpenTemplate", {text_arg(path)}, &opened), S_OK);
  EXPECT_EQ((take_record<corvane::MsgContents, ::MsgContents>(opened)), sample_contents());

  owned_udt<::EmailLesson> lesson;
  corvane::com::to_udt(sample_lesson(), lesson.get());
  const VARIANT key = arg(VT_I4, [](VARIANT& v) { V_I4(&v) = -3; });  // converted to Integer
  unique_variant index;
  ASSERT_EQ(call(L"findLessonIndex", {record_arg(lesson, true), key}, index.get()), S_OK);
  ASSERT_EQ(V_VT(index.get()), VT_I2);
  EXPECT_EQ(V_I2(index.get()), core.findLessonIndex(sample_lesson(), -3));

  corvane::SaveableFont wanted{u"Arial", u"0", corvane::kTrue, corvane::kFalse, corvane::kFalse,
                               corvane::kFalse, 12, 700};
  owned_udt<::SaveableFont> font_record;
  corvane::com::to_udt(wanted, font_record.get());
  unique_variant font;
  ASSERT_EQ(call(L"RetrieveFont", {record_arg(font_record, true)}, font.get()), S_OK);
  ASSERT_EQ(V_VT(font.get()), VT_DISPATCH);
  const VARIANT font_arg =
      arg(VT_DISPATCH, [&](VARIANT& v) { V_DISPATCH(&v) = V_DISPATCH(font.get()); });
  VARIANT converted;
  ASSERT_EQ(call(L"ConvertFont", {font_arg}, &converted), S_OK);
  const auto back = take_record<corvane::SaveableFont, ::SaveableFont>(converted);
  EXPECT_EQ(back.Weight, 700);
  EXPECT_NEAR(back.Size, 12, 1) << "whole points, as near as the font's pixel size allows";
  EXPECT_EQ(back.Charset, u"0");
}

// Through the server's own dispatch (OpenLesson) and the type-driven one (IsRead) alike.
TEST_F(LateBound, FailuresArriveAsExceptionsWithNumberSourceAndDescription) {
  const auto missing = bstr(u16(dir / "none" / "x.lsn"));
  const std::tuple<const wchar_t*, HRESULT, std::u16string, std::u16string> failing[] = {
      {L"OpenLesson", error_hresult(51620), u"OpenLesson", u"Error Opening Lesson:\r\nPath not found"},
      {L"IsRead", error_hresult(76), u"Corvane.MailObjectModel", u"Path not found"}};
  for (const auto& [name, scode, source, description] : failing) {
    unique_variant result;
    ASSERT_EQ(call(name, {text_arg(missing)}, result.get()), DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, scode);
    EXPECT_EQ(text(exception.bstrSource), source);
    EXPECT_EQ(text(exception.bstrDescription), description);
  }
  // OpenEmail succeeds and leaves its failure pending as with early binding.
  VARIANT partial;
  ASSERT_EQ(call(L"OpenEmail", {text_arg(missing)}, &partial), S_OK);
  EXPECT_EQ((take_record<corvane::EmailMsg, ::EmailMsg>(partial)), corvane::EmailMsg{});
  EXPECT_TRUE(take_error_info().present);
}

TEST_F(LateBound, ListsOfTextComeBackAsArrays) {
  const auto line = bstr(u"one,\"two, three\",");
  unique_variant fields;
  ASSERT_EQ(call(L"SplitCSVLine", {text_arg(line)}, fields.get()), S_OK);
  ASSERT_EQ(V_VT(fields.get()), VT_ARRAY | VT_BSTR);
  EXPECT_EQ(corvane::com::text_list_from(V_ARRAY(fields.get())),
            core.SplitCSVLine(u"one,\"two, three\","));
}

}  // namespace
