// Calls every operation through the interface's function table, as the sorter and compiled
// clients do, and compares with the core class called in-process.

#include <gtest/gtest.h>

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

TEST_F(EarlyBound, EmailRoundTripKeepsBoundsUnsizedListsAndEveryField) {
  const auto email = sample_email();
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

  // The automation shape itself: lower bounds kept, unsized lists as NULL.
  ASSERT_NE(out.get().emMsg.Texts, nullptr);
  EXPECT_EQ(lower_bound_of(out.get().emMsg.Texts), 1);
  EXPECT_EQ(lower_bound_of(out.get().emMsg.Pictures), -2);
  auto* pictures = static_cast<::MsgPicture*>(out.get().emMsg.Pictures->pvData);
  EXPECT_EQ(lower_bound_of(pictures[0].Value), 5);
  EXPECT_EQ(pictures[1].Value, nullptr);
  EXPECT_EQ(text(out.get().emSubject), email.emSubject);
  EXPECT_EQ(out.get().emSignature[2], email.emSignature[2]);
}

TEST_F(EarlyBound, SizedEmptyListsStayDistinctFromUnsizedOnes) {
  corvane::EmailMsg email;
  email.emMsg.Texts = corvane::List<corvane::MsgText>::sized(3, {});
  const auto path = bstr(u16(dir / "empty.eml"));
  owned_udt<::EmailMsg> in;
  fill(in, email);
  EXPECT_EQ(in.get().emMsg.Pictures, nullptr);
  VARIANT_BOOL saved = VARIANT_FALSE;
  ASSERT_EQ(object->SaveEmail(path.get(), &in.get(), &saved), S_OK);
  owned_udt<::EmailMsg> out;
  ASSERT_EQ(object->OpenEmail(path.get(), &out.get()), S_OK);
  ASSERT_NE(out.get().emMsg.Texts, nullptr);
  EXPECT_EQ(out.get().emMsg.Texts->rgsabound[0].cElements, 0u);
  EXPECT_EQ(out.get().emMsg.Pictures, nullptr);
  EXPECT_EQ(from_udt(out.get()), email);
}

TEST_F(EarlyBound, OpenEmailLeavesItsFailurePendingAndSucceeds) {
  ASSERT_EQ(object->put_ErrorString(nullptr), S_OK);
  const auto missing = bstr(u16(dir / "no such folder" / "mail.eml"));
  owned_udt<::EmailMsg> out;
  ASSERT_EQ(object->OpenEmail(missing.get(), &out.get()), S_OK);
  const auto pending = take_error_info();
  ASSERT_TRUE(pending.present);
  EXPECT_NE(pending.number, 0u);
  EXPECT_EQ(pending.source, u"Corvane.MailObjectModel");
  EXPECT_FALSE(pending.description.empty());
  EXPECT_EQ(from_udt(out.get()), corvane::EmailMsg{});
  EXPECT_FALSE(take_error_info().present) << "taking the failure clears it";

  unique_bstr message;
  object->get_ErrorString(message.put());
  EXPECT_EQ(text(message.get()), u"OpenEmail: Corvane.MailObjectModel\r\n" + pending.description);

  // A later successful call changes neither ErrorString nor leaves a failure.
  owned_udt<::EmailMsg> email;
  fill(email, sample_email());
  VARIANT_BOOL saved = VARIANT_FALSE;
  const auto path = bstr(u16(dir / "ok.eml"));
  ASSERT_EQ(object->SaveEmail(path.get(), &email.get(), &saved), S_OK);
  owned_udt<::EmailMsg> reread;
  ASSERT_EQ(object->OpenEmail(path.get(), &reread.get()), S_OK);
  EXPECT_FALSE(take_error_info().present);
  object->get_ErrorString(message.put());
  EXPECT_EQ(text(message.get()).rfind(u"OpenEmail: ", 0), 0u);
}

TEST_F(EarlyBound, FailingCallsAnswerTheErrorNumberWithErrorInformation) {
  com_ptr<ISupportErrorInfo> support = object.query<ISupportErrorInfo>(IID_ISupportErrorInfo);
  ASSERT_TRUE(support);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID__MailObjectModel), S_OK);

  VARIANT_BOOL read = VARIANT_FALSE;
  const HRESULT hr = object->IsRead(bstr(u16(dir / "no folder" / "x.eml")).get(), &read);
  const auto info = take_error_info();
  ASSERT_TRUE(info.present);
  EXPECT_EQ(hr, error_hresult(static_cast<int>(info.number)));
  EXPECT_EQ(info.source, u"Corvane.MailObjectModel");

  owned_udt<::EmailLesson> lesson;
  EXPECT_EQ(object->OpenLesson(bstr(u16(dir / "nowhere" / "x.lsn")).get(), &lesson.get()),
            error_hresult(51620));
  const auto lesson_error = take_error_info();
  EXPECT_EQ(lesson_error.number, 51620u);
  EXPECT_EQ(lesson_error.source, u"OpenLesson");

  unique_bstr untouched;
  object->get_ErrorString(untouched.put());
  EXPECT_EQ(text(untouched.get()), u"") << "raised errors leave ErrorString alone";
}

TEST_F(EarlyBound, CatchingOperationsReportThroughErrorString) {
  owned_udt<::EmailMsg> email;
  fill(email, sample_email());
  VARIANT_BOOL saved = VARIANT_TRUE;
  const auto bad = bstr(u16(dir / "missing folder" / "x.eml"));
  ASSERT_EQ(object->SaveEmail(bad.get(), &email.get(), &saved), S_OK);
  EXPECT_EQ(saved, VARIANT_FALSE);
  unique_bstr message;
  object->get_ErrorString(message.put());
  EXPECT_EQ(text(message.get()).rfind(u"SaveEmail Error: \"", 0), 0u);
}

// Records whose lists cannot be read (two dimensions, or elements of the wrong type) fail
// the catching operations like any other failure of theirs: False, and the message in
// ErrorString, never a failed call. The arrays are freed here, not by clear_udt.
TEST_F(EarlyBound, CatchingOperationsReportRecordsTheyCannotReadThroughErrorString) {
  SAFEARRAYBOUND bound{1, 0};
  SAFEARRAYBOUND bounds[2] = {{1, 0}, {1, 0}};
  auto error_string = [&] {
    unique_bstr message;
    object->get_ErrorString(message.put());
    return text(message.get());
  };
  auto ends_with = [](const std::u16string& s, const std::u16string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
  };
  VARIANT_BOOL ok = VARIANT_TRUE;
  const auto path = u16(dir / "record.bin");

  ::EmailMsg email{};
  email.emMsg.Texts = SafeArrayCreate(VT_I4, 2, bounds);
  ASSERT_EQ(object->SaveEmail(bstr(path).get(), &email, &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_EQ(error_string().rfind(u"SaveEmail Error: \"", 0), 0u);
  EXPECT_TRUE(ends_with(error_string(), u"\" (13)"));
  SafeArrayDestroy(email.emMsg.Texts);

  email.emMsg.Texts = SafeArrayCreate(VT_BSTR, 1, &bound);
  testsupport::write_bytes(dir / "original.txt", {'h', 'i'});
  ok = VARIANT_TRUE;
  ASSERT_EQ(object->AddAttachment(bstr(u16(dir / "original.txt")).get(),
                                  bstr(u16(dir / "copy.txt")).get(), &email, &ok),
            S_OK);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_EQ(error_string().rfind(u"AddAttachment Error: \"", 0), 0u);
  EXPECT_TRUE(ends_with(error_string(), u"\" & (13)"));
  EXPECT_EQ(email.emAttachments.FilePath, nullptr) << "the caller's record is left alone";
  SafeArrayDestroy(email.emMsg.Texts);

  ::MsgContents contents{nullptr, SafeArrayCreate(VT_I4, 2, bounds)};
  ok = VARIANT_TRUE;
  ASSERT_EQ(object->SaveTemplate(bstr(path).get(), &contents, &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_EQ(error_string().rfind(u"SaveTemplate Error: \"", 0), 0u);
  SafeArrayDestroy(contents.Pictures);

  ::EmailLesson lesson{SafeArrayCreate(VT_BSTR, 1, &bound)};
  ok = VARIANT_TRUE;
  ASSERT_EQ(object->SaveLesson(bstr(path).get(), &lesson, &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_TRUE(ends_with(error_string(), u"\r\nCorvane.MailObjectModel\r\n13"));
  SafeArrayDestroy(lesson.steps);

  EXPECT_FALSE(std::filesystem::exists(dir / "record.bin"));
  EXPECT_FALSE(std::filesystem::exists(dir / "copy.txt"));
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

  // A CSV file that does not exist is raised, not reported through ErrorString.
  EXPECT_EQ(object->ConvertCSV2Lesson(bstr(u16(dir / "none.csv")).get(), csv_path.get(), &ok),
            error_hresult(53));
  EXPECT_EQ(take_error_info().number, 53u);
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

  // No font object, and a charset that is no number, fail without a result.
  owned_udt<::SaveableFont> none;
  EXPECT_TRUE(FAILED(object->ConvertFont(nullptr, &none.get())));
  take_error_info();
  corvane::SaveableFont unfilled;
  owned_udt<::SaveableFont> empty;
  fill(empty, unfilled);
  com_ptr<IFontDisp> nothing;
  EXPECT_EQ(object->RetrieveFont(&empty.get(), nothing.put()), error_hresult(13));
  EXPECT_FALSE(nothing);
  const auto refused = take_error_info();
  EXPECT_TRUE(refused.present);
  EXPECT_EQ(refused.source, u"StdFont") << "the font's failure, not the library's";
}

TEST_F(EarlyBound, RetrieveFontLetsTheSystemConvertTheCharsetText) {
  // The system's coercion in the user's locale: hexadecimal and octal forms are numbers, a
  // number beyond 16 bits overflows. The font's realised character set is the platform's
  // (Wine reports the substituted face's), so what is checked is what the font took.
  const struct {
    std::u16string charset;
    HRESULT result;
  } cases[] = {{u"&H80", S_OK}, {u" 2 ", S_OK}, {u"&O12", S_OK}, {u"40000", error_hresult(6)},
               {u"ANSI", error_hresult(13)}};
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
    if (c.result != S_OK) EXPECT_EQ(error.source, u"StdFont");
  }
}

TEST_F(EarlyBound, ArraysOfTheWrongKindAreATypeMismatch) {
  // A Texts list that holds strings instead of MsgText records (freed here, not by clear_udt,
  // which would take its elements for records).
  SAFEARRAYBOUND bound{1, 0};
  ::MsgContents contents{SafeArrayCreate(VT_BSTR, 1, &bound), nullptr};
  unique_bstr dump;
  EXPECT_EQ(object->DebugTemplate(&contents, VARIANT_FALSE, dump.put()), error_hresult(13));
  EXPECT_TRUE(take_error_info().present);
  SafeArrayDestroy(contents.Texts);

  // Two dimensions where one is expected.
  SAFEARRAYBOUND bounds[2] = {{1, 0}, {1, 0}};
  ::EmailLesson lesson{SafeArrayCreate(VT_I4, 2, bounds)};
  short index = 0;
  EXPECT_EQ(object->findLessonIndex(&lesson, 1, &index), error_hresult(13));
  take_error_info();
  SafeArrayDestroy(lesson.steps);
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
