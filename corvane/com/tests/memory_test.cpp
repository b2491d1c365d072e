// Thousands of calls of each record-bearing operation keep the process's private memory flat:
// every BSTR, SAFEARRAY and record the server or the client side creates is freed once.

#include "com_test_support.h"  // windows.h before psapi.h

#include <gtest/gtest.h>
#include <psapi.h>

#include <functional>
#include <iostream>

#include "corvane/com/type_library.h"
#include "corvane/com/udt_convert.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace comtest;
using corvane::com::owned_udt;

// Bytes in use in all of the process's heaps (BSTRs, SAFEARRAYs, records and C++ objects all
// live there), and the working set as the system reports it.
long long heap_bytes() {
  HANDLE heaps[64];
  const DWORD count = GetProcessHeaps(64, heaps);
  long long total = 0;
  for (DWORD i = 0; i < count && i < 64; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
    }
    HeapUnlock(heaps[i]);
  }
  return total;
}

long long working_set() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return static_cast<long long>(counters.WorkingSetSize);
}

constexpr int kWarmUp = 100;
constexpr int kCalls = 1000;
// Caches of the system libraries may grow a little; one leaked short string per call would
// already add 1000 x 24 bytes or more.
constexpr long long kAllowedGrowth = 16 * 1024;

void expect_flat(const char* name, const std::function<void()>& call) {
  for (int i = 0; i < kWarmUp; ++i) call();
  const long long heap_before = heap_bytes(), set_before = working_set();
  for (int i = 0; i < kCalls; ++i) call();
  const long long heap_after = heap_bytes(), set_after = working_set();
  std::cout << "[ MEMORY   ] " << name << ": heap " << heap_before << " -> " << heap_after
            << " bytes, working set " << set_before / 1024 << " -> " << set_after / 1024
            << " KiB over " << kCalls << " calls\n";
  EXPECT_LT(heap_after - heap_before, kAllowedGrowth) << name;
}

TEST(Memory, RecordOperationsDoNotLeak) {
  auto object = create_object();
  testsupport::TempDir dir;
  const auto email_path = bstr(testsupport::u16(dir / "m.eml"));
  const auto template_path = bstr(testsupport::u16(dir / "t.tpl"));
  const auto lesson_path = bstr(testsupport::u16(dir / "l.lsn"));
  const auto missing = bstr(testsupport::u16(dir / "none" / "x.eml"));
  testsupport::write_bytes(dir / "a.txt", {'a'});
  const auto attachment = bstr(testsupport::u16(dir / "a.txt"));
  const auto attachment_copy = bstr(testsupport::u16(dir / "b.txt"));
  owned_udt<::EmailMsg> email;
  corvane::com::to_udt(sample_email(), email.get());
  owned_udt<::MsgContents> contents;
  corvane::com::to_udt(sample_contents(), contents.get());
  owned_udt<::EmailLesson> lesson;
  corvane::com::to_udt(sample_lesson(), lesson.get());
  VARIANT_BOOL flag = VARIANT_FALSE;

  expect_flat("SaveEmail", [&] { object->SaveEmail(email_path.get(), &email.get(), &flag); });
  expect_flat("OpenEmail", [&] {
    owned_udt<::EmailMsg> out;
    object->OpenEmail(email_path.get(), &out.get());
  });
  expect_flat("OpenEmail failing", [&] {
    owned_udt<::EmailMsg> out;
    object->OpenEmail(missing.get(), &out.get());
    take_error_info();
  });
  expect_flat("AddAttachment", [&] {
    object->AddAttachment(attachment.get(), attachment_copy.get(), &email.get(), &flag);
  });
  expect_flat("SaveTemplate+OpenTemplate", [&] {
    object->SaveTemplate(template_path.get(), &contents.get(), &flag);
    owned_udt<::MsgContents> out;
    object->OpenTemplate(template_path.get(), &out.get());
  });
  expect_flat("DebugEmail+DebugTemplate", [&] {
    unique_bstr text;
    object->DebugEmail(&email.get(), VARIANT_FALSE, text.put());
    object->DebugTemplate(&contents.get(), VARIANT_FALSE, text.put());
  });
  expect_flat("SaveLesson+OpenLesson+findLessonIndex", [&] {
    object->SaveLesson(lesson_path.get(), &lesson.get(), &flag);
    owned_udt<::EmailLesson> out;
    object->OpenLesson(lesson_path.get(), &out.get());
    short index = 0;
    object->findLessonIndex(&lesson.get(), 7, &index);
  });
  expect_flat("RetrieveFont+ConvertFont", [&] {
    owned_udt<::SaveableFont> font_record;
    corvane::com::to_udt(sample_contents().Texts.items()[0].Font, font_record.get());
    com_ptr<IFontDisp> font;
    object->RetrieveFont(&font_record.get(), font.put());
    owned_udt<::SaveableFont> back;
    object->ConvertFont(font.get(), &back.get());
  });

  // Late bound: a VT_RECORD result, freed by the caller.
  auto dispatch = object.query<IDispatch>(IID_IDispatch);
  expect_flat("Invoke OpenLesson", [&] {
    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_BSTR;
    V_BSTR(&arg) = lesson_path.get();
    DISPPARAMS params{&arg, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    dispatch->Invoke(0x60030010, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    if (V_VT(&result) == VT_RECORD) {
      corvane::com::clear_udt(*static_cast<::EmailLesson*>(V_RECORD(&result)));
      HeapFree(GetProcessHeap(), 0, V_RECORD(&result));
      V_RECORDINFO(&result)->Release();
    }
  });
}

}  // namespace
