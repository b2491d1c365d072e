// A short early-bound client for the 32-bit Corvane.dll, registered beforehand with the 32-bit
// regsvr32. Each process costs close to a minute under an emulated 32-bit Wine, so one run checks
// the essentials only: creation through the registry, an e-mail record round trip through the
// function table (lists with lower bounds, nested and unsized lists, strings, dates), and a raised
// error with its error information. It prints one PASS or FAIL line per check and a final count
// line "RESULT passed=N failed=M"; the exit code is the number of failed checks.
//
//   i686_smoke_client.exe <writable folder>

#include <cstdio>
#include <string>

#include "com_test_support.h"
#include "corvane/com/udt_convert.h"

namespace {

using namespace comtest;
using corvane::com::from_udt;
using corvane::com::owned_udt;
using corvane::com::to_udt;

class Checks {
 public:
  void check(bool ok, const char* what, const std::string& detail = {}) {
    // The detail (what was seen) only matters when the check fails.
    const bool show = !ok && !detail.empty();
    std::printf("%s %s%s%s\n", ok ? "PASS" : "FAIL", what, show ? ": " : "",
                show ? detail.c_str() : "");
    std::fflush(stdout);
    ++(ok ? passed_ : failed_);
  }
  int finish() const {
    std::printf("RESULT passed=%d failed=%d\n", passed_, failed_);
    return failed_;
  }

 private:
  int passed_ = 0;
  int failed_ = 0;
};

std::string hex(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08lX", static_cast<unsigned long>(hr));
  return buffer;
}

std::string narrow(const std::u16string& text) { return {text.begin(), text.end()}; }

std::u16string widen(const char* text) {
  const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), n);
  return {wide.begin(), wide.end()};
}

LONG lower_bound_of(const SAFEARRAY* array) { return array ? array->rgsabound[0].lLbound : 0; }

void email_round_trip(_MailObjectModel& object, const std::u16string& folder, Checks& checks) {
  const auto email = sample_email();
  const auto path = bstr(folder + u"\\smoke.eml");
  owned_udt<::EmailMsg> in;
  to_udt(email, in.get());
  VARIANT_BOOL saved = VARIANT_FALSE;
  const HRESULT save_hr = object.SaveEmail(path.get(), &in.get(), &saved);
  checks.check(save_hr == S_OK && saved == VARIANT_TRUE, "SaveEmail writes the record",
               hex(save_hr));

  owned_udt<::EmailMsg> out;
  const HRESULT open_hr = object.OpenEmail(path.get(), &out.get());
  checks.check(open_hr == S_OK, "OpenEmail answers S_OK", hex(open_hr));
  checks.check(!take_error_info().present, "OpenEmail leaves no failure pending");
  checks.check(from_udt(out.get()) == email, "the record read back equals the one saved");

  const auto& contents = out.get().emMsg;
  checks.check(lower_bound_of(contents.Texts) == 1 && lower_bound_of(contents.Pictures) == -2,
               "list lower bounds 1 and -2 survive",
               std::to_string(lower_bound_of(contents.Texts)) + " " +
                   std::to_string(lower_bound_of(contents.Pictures)));
  const auto* pictures =
      contents.Pictures ? static_cast<const ::MsgPicture*>(contents.Pictures->pvData) : nullptr;
  checks.check(pictures && lower_bound_of(pictures[0].Value) == 5 && pictures[1].Value == nullptr,
               "a nested byte list keeps lower bound 5 and an unsized one stays NULL");
}

void raised_error(_MailObjectModel& object, const std::u16string& folder, Checks& checks) {
  owned_udt<::EmailLesson> lesson;
  const HRESULT hr = object.OpenLesson(bstr(folder + u"\\no such folder\\x.lsn").get(),
                                       &lesson.get());
  checks.check(hr == error_hresult(51620), "OpenLesson on a missing folder answers 0x800AC9A4",
               hex(hr));
  const auto info = take_error_info();
  checks.check(info.present && info.source == u"OpenLesson" && info.number == 51620,
               "its error information names OpenLesson and number 51620",
               narrow(info.source) + " " + std::to_string(info.number));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: i686_smoke_client <writable folder>\n");
    return 2;
  }
  const std::u16string folder = widen(argv[1]);
  Checks checks;
  checks.check(sizeof(void*) == 4, "the client is a 32-bit process");
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    checks.check(false, "CoInitializeEx");
    return checks.finish();
  }
  {
    com_ptr<_MailObjectModel> object;
    const HRESULT hr = CoCreateInstance(CLSID_MailObjectModel, nullptr, CLSCTX_INPROC_SERVER,
                                        IID__MailObjectModel, object.put_void());
    checks.check(hr == S_OK && object, "CoCreateInstance by CLSID", hex(hr));
    if (object) {
      email_round_trip(*object.get(), folder, checks);
      raised_error(*object.get(), folder, checks);
    }
  }
  CoUninitialize();
  return checks.finish();
}
