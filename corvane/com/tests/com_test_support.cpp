#include "com_test_support.h"

#include <gtest/gtest.h>

#include "corvane/com/client/mail_client.h"


namespace comtest {
namespace {

// Every COM test program runs in one apartment with the DLL registered for all users.
class ComEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(regsvr32(L"/s"), 0u) << "regsvr32 failed";
  }
  void TearDown() override { CoUninitialize(); }
};

const auto* const environment = testing::AddGlobalTestEnvironment(new ComEnvironment);

}  // namespace

std::wstring dll_path() {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 2);
  std::wstring path(buffer, n);
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"Corvane.dll";
}

DWORD regsvr32(const std::wstring& switches) {
  std::wstring command = L"regsvr32.exe " + switches + L" \"" + dll_path() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return static_cast<DWORD>(-1);
  WaitForSingleObject(process.hProcess, 120000);
  DWORD code = static_cast<DWORD>(-1);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

com_ptr<_MailObjectModel> create_object() {
  com_ptr<_MailObjectModel> object;
  const HRESULT hr = CoCreateInstance(CLSID_MailObjectModel, nullptr, CLSCTX_INPROC_SERVER,
                                      IID__MailObjectModel, object.put_void());
  EXPECT_EQ(hr, S_OK);
  return object;
}

ErrorInfo take_error_info() {
  ErrorInfo out;
  const auto error = corvane::com::client::take_error_info();
  if (!error) return out;
  out.present = true;
  out.number = static_cast<DWORD>(error->number());
  out.source = error->source();
  out.description = error->description();
  return out;
}

corvane::EmailLesson sample_lesson() {
  corvane::LessonChoice choice{u"Message one", u"Subject one", u"Bob"};
  corvane::LessonStep first;
  first.Index = 1;
  first.Choices = corvane::List<corvane::LessonChoice>::sized(1, {choice, {u"m", u"s", u"f"}});
  corvane::LessonStep second;
  second.Index = -3;
  second.Choices = corvane::List<corvane::LessonChoice>::sized(0, {});
  corvane::LessonStep third;  // choices never dimensioned
  third.Index = 7;
  corvane::EmailLesson lesson;
  lesson.steps = corvane::List<corvane::LessonStep>::sized(1, {first, second, third});
  return lesson;
}

}  // namespace comtest
