// Calls every operation through the interface's function table, as the sorter and compiled
// clients do, and compares with the core class called in-process.

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "com_test_support.h"
#include "corvane/com/udt_convert.h"
#include "corvane/object_model/mail_object_model.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace comtest;
using corvane::com::from_udt;
using corvane::com::owned_udt;
using corvane::com::to_udt;
using testsupport::TempDir;
using testsupport::u16;

template <class U, class Core>
void fill(owned_udt<U>& out, const Core& core) {
  to_udt(core, out.get());
}

LONG lower_bound_of(SAFEARRAY* array) { return array->rgsabound[0].lLbound; }

class EarlyBound : public testing::Test {
 protected:
  com_ptr<_MailObjectModel> object = create_object();
  TempDir dir;
  corvane::MailObjectModel core;  // the same operations in-process, for comparison
};

TEST_F(EarlyBound, ErrorStringStartsEmptyAndKeepsWhatIsPut) {
  unique_bstr value;
  ASSERT_EQ(object->get_ErrorString(value.put()), S_OK);
  EXPECT_EQ(text(value.get()), u"");
  ASSERT_EQ(object->put_ErrorString(bstr(u"any \u00e4 text\r\n").get()), S_OK);
  ASSERT_EQ(object->get_ErrorString(value.put()), S_OK);
  EXPECT_EQ(text(value.get()), u"any \u00e4 text\r\n");
  EXPECT_EQ(object->get_ErrorString(nullptr), E_POINTER);
}

// Every field comes back, in the automation shape: lower bounds kept, sized empty lists as
// empty arrays, unsized lists as NULL.
TEST_F(EarlyBound, EmailRoundTripKeepsBoundsSizedEmptyAndUnsizedListsAndEveryField) {
  corvane::EmailMsg empty_texts;
  empty_texts.emMsg.Texts = corvane::List<corvane::MsgText>::sized(3, {});
  for (const corvane::EmailMsg& email : {sample_email(), empty_texts}) {
    const auto path = bstr(u16(dir / "mail.eml"));
    owned_udt<::EmailMsg> in;
    fill(in, email);
    VARIANT_BOOL saved = VARIANT_FALSE;
    ASSERT_EQ(object->SaveEmail(path.get(), &in.get(), &saved), S_OK);
    EXPECT_EQ(saved, VARIANT_TRUE);
    owned_udt<::EmailMsg> out;
    ASSERT_EQ(object->OpenEmail(path.get(), &out.get()), S_OK);
    EXPECT_FALSE(take_error_info().present) << "a successful OpenEmail leaves nothing pending";
    EXPECT_EQ(from_udt(out.get()), email);
    ASSERT_NE(out.get().emMsg.Texts, nullptr);
    EXPECT_EQ(lower_bound_of(out.get().emMsg.Texts), email.emMsg.Texts.lower_bound());
    EXPECT_EQ(out.get().emMsg.Texts->rgsabound[0].cElements, email.emMsg.Texts.size());
    ASSERT_EQ(out.get().emMsg.Pictures == nullptr, !email.emMsg.Pictures.is_sized());
    if (!out.get().emMsg.Pictures) continue;
    EXPECT_EQ(lower_bound_of(out.get().emMsg.Pictures), email.emMsg.Pictures.lower_bound());
    for (std::size_t i = 0; i < email.emMsg.Pictures.size(); ++i) {
      const auto& value = email.emMsg.Pictures.items()[i].Value;
      SAFEARRAY* bytes = static_cast<::MsgPicture*>(out.get().emMsg.Pictures->pvData)[i].Value;
      ASSERT_EQ(bytes == nullptr, !value.is_sized()) << i;
      if (bytes) EXPECT_EQ(lower_bound_of(bytes), value.lower_bound());
    }
  }
}

// A call that fails, on a fresh object: raising operations answer the error's result code with
// the error information and leave ErrorString alone; catching ones answer S_OK and False with
// their message in ErrorString and nothing pending; OpenEmail succeeds with both. Nothing is
// written, and a later successful read clears the failure and leaves ErrorString as it is.
struct Failing {
  const char* name;
  HRESULT (*call)(_MailObjectModel& object, const std::u16string& dir, VARIANT_BOOL& answer);
  HRESULT result;
  DWORD number;  // of the error information left pending; 0: none
  std::u16string source;
  std::u16string error_string;  // afterwards, exact
};
void PrintTo(const Failing& c, std::ostream* os) { *os << c.name; }

SAFEARRAY* two_dimensional() {
  SAFEARRAYBOUND bounds[2] = {{1, 0}, {1, 0}};
  return SafeArrayCreate(VT_I4, 2, bounds);
}
SAFEARRAY* of_texts() {  // where records are expected
  SAFEARRAYBOUND bound{1, 0};
  return SafeArrayCreate(VT_BSTR, 1, &bound);
}
unique_bstr in(const std::u16string& dir, const char16_t* name) {
  return bstr(dir + u"/" + name);
}

const std::u16string kModel = u"Corvane.MailObjectModel";

// The arrays are freed here, not by clear_udt, which would take their elements for records.
const Failing kFailing[] = {
    {"OpenEmail", [](_MailObjectModel& o, const std::u16string& d, VARIANT_BOOL&) {
       owned_udt<::EmailMsg> out;
       const HRESULT hr = o.OpenEmail(in(d, u"none/out").get(), &out.get());
       EXPECT_EQ(from_udt(out.get()), corvane::EmailMsg{});
       return hr;
     }, S_OK, 76, kModel, u"OpenEmail: Corvane.MailObjectModel\r\nPath not found"},
    {"IsRead", [](_MailObjectModel& o, const std::u16string& d, VARIANT_BOOL& a) {
       return o.IsRead(in(d, u"none/out").get(), &a);
     }, error_hresult(76), 76, kModel, u""},
    {"OpenLesson", [](_MailObjectModel& o, const std::u16string& d, VARIANT_BOOL&) {
       owned_udt<::EmailLesson> lesson;
       return o.OpenLesson(in(d, u"none/out").get(), &lesson.get());
     }, error_hresult(51620), 51620, u"OpenLesson", u""},
    {"ConvertCSV2Lesson", [](_MailObjectModel& o, const std::u16string& d, VARIANT_BOOL& a) {
       return o.ConvertCSV2Lesson(in(d, u"none.csv").get(), in(d, u"out").get(), &a);
     }, error_hresult(53), 53, kModel, u""},
    {"DebugTemplate", [](_MailObjectModel& o, const std::u16string&, VARIANT_BOOL&) {
       const corvane::com::unique_safearray texts(of_texts());
       ::MsgContents contents{texts.get(), nullptr};
       unique_bstr dump;
       return o.DebugTemplate(&contents, VARIANT_FALSE, dump.put());
     }, error_hresult(13), 13, kModel, u""},
    {"findLessonIndex", [](_MailObjectModel& o, const std::u16string&, VARIANT_BOOL&) {
       const corvane::com::unique_safearray steps(two_dimensional());
       ::EmailLesson lesson{steps.get()};
       short index = 0;
       return o.findLessonIndex(&lesson, 1, &index);
     }, error_hresult(13), 13, kModel, u""},
    {"SaveEmail", [](_MailObjectModel& o, const std::u16string& d, VARIANT_BOOL& a) {
       owned_udt<::EmailMsg> email;
       to_udt(sample_email(), email.get());
       return o.SaveEmail(in(d, u"none/out").get(), &email.get(), &a);
     }, S_OK, 0, u"", u"SaveEmail Error: \"Path not found\" (76)"},
    {"SaveEmailOfTwoDimensions", [](_MailObjectModel& o, const std::u16string& d, VARIANT_BOOL& a) {
       const corvane::com::unique_safearray texts(two_dimensional());
       ::EmailMsg email{};
       email.emMsg.Texts = texts.get();
       return o.SaveEmail(in(d, u"out").get(), &email, &a);
     }, S_OK, 0, u"", u"SaveEmail Error: \"Type mismatch\" (13)"},
    {"AddAttachmentToTexts", [](_MailObjectModel& o, const std::u16string& d, VARIANT_BOOL& a) {
       const corvane::com::unique_safearray texts(of_texts());
       ::EmailMsg email{};
       email.emMsg.Texts = texts.get();
       const auto original = bstr(u16(std::filesystem::path(dll_path())));
       const HRESULT hr = o.AddAttachment(original.get(), in(d, u"out").get(), &email, &a);
       EXPECT_EQ(email.emAttachments.FilePath, nullptr) << "the caller's record is left alone";
       return hr;
     }, S_OK, 0, u"", u"AddAttachment Error: \"Type mismatch\" & (13)"},
    {"SaveTemplateOfTwoDimensions", [](_MailObjectModel& o, const std::u16string& d, VARIANT_BOOL& a) {
       const corvane::com::unique_safearray pictures(two_dimensional());
       ::MsgContents contents{nullptr, pictures.get()};
       return o.SaveTemplate(in(d, u"out").get(), &contents, &a);
     }, S_OK, 0, u"", u"SaveTemplate Error: \"Type mismatch\" (13)"},
    {"SaveLessonOfTexts", [](_MailObjectModel& o, const std::u16string& d, VARIANT_BOOL& a) {
       const corvane::com::unique_safearray steps(of_texts());
       ::EmailLesson lesson{steps.get()};
       return o.SaveLesson(in(d, u"out").get(), &lesson, &a);
     }, S_OK, 0, u"", u"Type mismatch\r\nCorvane.MailObjectModel\r\n13"},
};

class EarlyBoundFailure : public EarlyBound, public testing::WithParamInterface<Failing> {};

TEST_P(EarlyBoundFailure, AnswersReportsAndWritesNothing) {
  const Failing& c = GetParam();
  VARIANT_BOOL answer = VARIANT_TRUE;
  EXPECT_EQ(c.call(*object.get(), u16(dir.path()), answer), c.result);
  if (c.number == 0) EXPECT_EQ(answer, VARIANT_FALSE);
  const auto pending = take_error_info();
  EXPECT_EQ(pending.number, c.number);
  EXPECT_EQ(pending.source, c.source);
  EXPECT_EQ(pending.present, c.number != 0);
  EXPECT_FALSE(take_error_info().present) << "taking the failure clears it";
  const auto error_string = [&] {
    unique_bstr message;
    EXPECT_EQ(object->get_ErrorString(message.put()), S_OK);
    return text(message.get());
  };
  EXPECT_EQ(error_string(), c.error_string);
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));

  c.call(*object.get(), u16(dir.path()), answer);  // pending again, for the read to clear
  owned_udt<::EmailMsg> email;
  fill(email, sample_email());
  const auto path = bstr(u16(dir / "ok.eml"));
  ASSERT_EQ(object->SaveEmail(path.get(), &email.get(), &answer), S_OK);
  owned_udt<::EmailMsg> reread;
  ASSERT_EQ(object->OpenEmail(path.get(), &reread.get()), S_OK);
  EXPECT_FALSE(take_error_info().present);
  EXPECT_EQ(error_string(), c.error_string);
}

INSTANTIATE_TEST_SUITE_P(Calls, EarlyBoundFailure, testing::ValuesIn(kFailing),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EarlyBound, EveryFailureComesWithErrorInformation) {
  com_ptr<ISupportErrorInfo> support = object.query<ISupportErrorInfo>(IID_ISupportErrorInfo);
  ASSERT_TRUE(support);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID__MailObjectModel), S_OK);
}

TEST_F(EarlyBound, AddAttachmentWritesThePathBackIntoTheCallersRecord) {
  testsupport::write_bytes(dir / "original.txt", {'h', 'i'});
  owned_udt<::EmailMsg> email;
  fill(email, sample_email());
  VARIANT_BOOL added = VARIANT_FALSE;
  const auto target = u16(dir / "copy.txt");
  ASSERT_EQ(object->AddAttachment(bstr(u16(dir / "original.txt")).get(), bstr(target).get(),
                                  &email.get(), &added),
            S_OK);
  EXPECT_EQ(added, VARIANT_TRUE);
  EXPECT_EQ(text(email.get().emAttachments.FilePath), target);
  auto expected = sample_email();
  expected.emAttachments.FilePath = target;
  EXPECT_EQ(from_udt(email.get()), expected) << "the rest of the record is unchanged";
}

TEST_F(EarlyBound, TemplatesAndLessonsRoundTrip) {
  owned_udt<::MsgContents> contents;
  fill(contents, sample_contents());
  VARIANT_BOOL saved = VARIANT_FALSE;
  const auto template_path = bstr(u16(dir / "t.tpl"));
  ASSERT_EQ(object->SaveTemplate(template_path.get(), &contents.get(), &saved), S_OK);
  owned_udt<::MsgContents> reopened;
  ASSERT_EQ(object->OpenTemplate(template_path.get(), &reopened.get()), S_OK);
  EXPECT_EQ(from_udt(reopened.get()), sample_contents());

  owned_udt<::EmailLesson> lesson;
  fill(lesson, sample_lesson());
  const auto lesson_path = bstr(u16(dir / "l.lsn"));
  ASSERT_EQ(object->SaveLesson(lesson_path.get(), &lesson.get(), &saved), S_OK);
  EXPECT_EQ(saved, VARIANT_TRUE);
  owned_udt<::EmailLesson> reread;
  ASSERT_EQ(object->OpenLesson(lesson_path.get(), &reread.get()), S_OK);
  EXPECT_EQ(from_udt(reread.get()), sample_lesson());

  for (short key : {1, -3, 7, 99}) {
    short index = 0;
    ASSERT_EQ(object->findLessonIndex(&lesson.get(), key, &index), S_OK);
    EXPECT_EQ(index, core.findLessonIndex(sample_lesson(), key)) << key;
  }
}

TEST_F(EarlyBound, CsvOperationsMatchTheCore) {
  const std::u16string line = u"a,\"b,c\",,d";
  SAFEARRAY* raw = nullptr;
  ASSERT_EQ(object->SplitCSVLine(bstr(line).get(), &raw), S_OK);
  corvane::com::unique_safearray fields(raw);
  EXPECT_EQ(corvane::com::text_list_from(fields.get()), core.SplitCSVLine(line));

  VARIANT_BOOL ok = VARIANT_TRUE;
  const auto csv_path = bstr(u16(dir / "l.csv"));
  testsupport::write_bytes(dir / "l.csv", {'2', ',', 'A', ',', 'S', ',', 'M', '\r', '\n',
                                           '1', ',', 'B', ',', 'T', ',', 'N', '\r', '\n'});
  ASSERT_EQ(object->ConvertCSV2Lesson(csv_path.get(), bstr(u16(dir / "back.lsn")).get(), &ok),
            S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  ASSERT_TRUE(core.ConvertCSV2Lesson(u16(dir / "l.csv"), u16(dir / "core.lsn")));
  EXPECT_EQ(testsupport::read_bytes(dir / "back.lsn"), testsupport::read_bytes(dir / "core.lsn"));

  ASSERT_EQ(object->ConvertLesson2CSV(bstr(u16(dir / "back.lsn")).get(),
                                      bstr(u16(dir / "out.csv")).get(), &ok),
            S_OK);
  EXPECT_EQ(ok, core.ConvertLesson2CSV(u16(dir / "back.lsn"), u16(dir / "out2.csv"))
                    ? VARIANT_TRUE
                    : VARIANT_FALSE);
}

TEST_F(EarlyBound, DebugDumpsMatchTheCoreWithoutShowingAnything) {
  owned_udt<::EmailMsg> email;
  fill(email, sample_email());
  unique_bstr dump;
  ASSERT_EQ(object->DebugEmail(&email.get(), VARIANT_FALSE, dump.put()), S_OK);
  EXPECT_EQ(text(dump.get()), core.DebugEmail(sample_email()));
  // Only exactly True shows the window; 1 is not True.
  owned_udt<::MsgContents> contents;
  fill(contents, sample_contents());
  ASSERT_EQ(object->DebugTemplate(&contents.get(), 1, dump.put()), S_OK);
  EXPECT_EQ(text(dump.get()), core.DebugTemplate(sample_contents()));
}

TEST_F(EarlyBound, FontsConvertThroughTheStandardFontObject) {
  FONTDESC desc{sizeof(FONTDESC), const_cast<LPOLESTR>(L"Arial"), {}, FW_BOLD, ANSI_CHARSET,
                TRUE, FALSE, TRUE};
  desc.cySize.int64 = 105000;  // 10.5 points
  com_ptr<IFontDisp> font;
  ASSERT_EQ(OleCreateFontIndirect(&desc, IID_IFontDisp, font.put_void()), S_OK);
  owned_udt<::SaveableFont> saved;
  ASSERT_EQ(object->ConvertFont(font.get(), &saved.get()), S_OK);
  const auto record = from_udt(saved.get());
  EXPECT_EQ(record.Size, 10) << "halves round to even";
  EXPECT_EQ(record.Weight, 700);
  EXPECT_EQ(record.Bold, corvane::kTrue);
  EXPECT_EQ(record.Italic, corvane::kTrue);
  EXPECT_EQ(record.Strikethrough, corvane::kTrue);
  EXPECT_EQ(record.Underline, corvane::kFalse);
  EXPECT_EQ(record.Charset, u"0");

  corvane::SaveableFont wanted{u"Arial", u"0", corvane::kTrue, corvane::kTrue, corvane::kFalse,
                               corvane::kFalse, 14, 400};
  owned_udt<::SaveableFont> in;
  fill(in, wanted);
  com_ptr<IFontDisp> made;
  ASSERT_EQ(object->RetrieveFont(&in.get(), made.put()), S_OK);
  ASSERT_TRUE(made);
  auto font_interface = made.query<IFont>(IID_IFont);
  ASSERT_TRUE(font_interface);
  SHORT weight = 0;
  CY size{};
  BOOL underline = FALSE;
  font_interface->get_Weight(&weight);
  font_interface->get_Size(&size);
  font_interface->get_Underline(&underline);
  EXPECT_EQ(weight, 400) << "Weight is set after Bold and wins";
  EXPECT_NEAR(static_cast<double>(size.int64), 140000.0, 5000.0)
      << "whole points, as near as the font's pixel size allows";
  EXPECT_TRUE(underline);

  owned_udt<::SaveableFont> none;  // no font object: fails without a result
  EXPECT_EQ(object->ConvertFont(nullptr, &none.get()), error_hresult(91));
  EXPECT_EQ(take_error_info().source, u"Corvane.MailObjectModel");
}

TEST_F(EarlyBound, RetrieveFontLetsTheSystemConvertTheCharsetText) {
  // The system's coercion in the user's locale: hexadecimal and octal forms are numbers, a
  // number beyond 16 bits overflows, and a failure is the font's, not the library's. The font's
  // realised character set is the platform's (Wine reports the substituted face's), so what is
  // checked is what the font took.
  const struct {
    std::u16string charset;
    HRESULT result;
  } cases[] = {{u"&H80", S_OK}, {u" 2 ", S_OK}, {u"&O12", S_OK}, {u"40000", error_hresult(6)},
               {u"ANSI", error_hresult(13)}, {u"", error_hresult(13)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.charset.begin(), c.charset.end()));
    corvane::SaveableFont wanted;
    wanted.FontName = u"Arial";
    wanted.Charset = c.charset;
    wanted.Size = 10;
    wanted.Weight = 400;
    owned_udt<::SaveableFont> in;
    fill(in, wanted);
    com_ptr<IFontDisp> made;
    EXPECT_EQ(object->RetrieveFont(&in.get(), made.put()), c.result);
    EXPECT_EQ(static_cast<bool>(made), c.result == S_OK);
    const auto error = take_error_info();
    EXPECT_EQ(error.present, c.result != S_OK);
    if (c.result != S_OK) EXPECT_EQ(error.source, u"StdFont");
  }
}

TEST_F(EarlyBound, NullPointersAreRejected) {
  VARIANT_BOOL flag;
  EXPECT_EQ(object->SaveEmail(bstr(u"x").get(), nullptr, &flag), E_POINTER);
  EXPECT_EQ(object->OpenEmail(bstr(u"x").get(), nullptr), E_POINTER);
  EXPECT_EQ(object->ShowTime(nullptr), E_POINTER);
}

TEST(ComServer, ClassObjectAndUnloading) {
  auto object = create_object();
  com_ptr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_MailObjectModel, CLSCTX_INPROC_SERVER, nullptr,
                             IID_IClassFactory, factory.put_void()),
            S_OK);
  com_ptr<IUnknown> unknown;
  EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(object.get()), IID_IUnknown,
                                    unknown.put_void()),
            CLASS_E_NOAGGREGATION);
  com_ptr<IDispatch> dispatch;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, dispatch.put_void()), S_OK);
  com_ptr<IUnknown> a = dispatch.query<IUnknown>(IID_IUnknown);
  com_ptr<IUnknown> b = dispatch.query<_MailObjectModel>(IID__MailObjectModel).query<IUnknown>(IID_IUnknown);
  EXPECT_EQ(a.get(), b.get()) << "one identity";
  EXPECT_FALSE(dispatch.query<IPersist>(IID_IPersist));
}

}  // namespace
