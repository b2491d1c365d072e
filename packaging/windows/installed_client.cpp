// Checks from a 64-bit process that an installed package registered Corvane.dll the way clients
// find it: the ProgID resolves to the class, the type library loads through its registration
// (version 30.0, at the installed path), and the class creates an object that answers IDispatch
// with the library's own interface description. Prints PASS/FAIL lines and exits 1 on a failure.
//
//   corvane_installed_client.exe EXPECTED_DLL_PATH
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <string>

#include "corvane/com/unique_resource.h"
#include "corvane/model/library_identity.h"

namespace {

using corvane::com::com_ptr;
using corvane::com::unique_bstr;

// {979CEE9F-5A48-4170-ADF3-137DCCB79C78}, {A02E87AA-BB35-4AC0-BA59-B2B975D64CEA}
constexpr CLSID kClsid = {0x979CEE9F, 0x5A48, 0x4170, {0xAD, 0xF3, 0x13, 0x7D, 0xCC, 0xB7, 0x9C, 0x78}};
constexpr GUID kLibid = {0xA02E87AA, 0xBB35, 0x4AC0, {0xBA, 0x59, 0xB2, 0xB9, 0x75, 0xD6, 0x4C, 0xEA}};

int failures = 0;

void check(const char* name, bool ok, HRESULT hr = S_OK) {
  std::printf("%s %s (0x%08lX)\n", ok ? "PASS" : "FAIL", name, static_cast<unsigned long>(hr));
  if (!ok) ++failures;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: corvane_installed_client EXPECTED_DLL_PATH\n");
    return 2;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(L"" CORVANE_PROG_ID, &clsid);
    check("CLSIDFromProgID", SUCCEEDED(hr) && IsEqualCLSID(clsid, kClsid), hr);

    com_ptr<ITypeLib> library;
    hr = LoadRegTypeLib(kLibid, 30, 0, LOCALE_NEUTRAL, library.put());
    check("LoadRegTypeLib(30.0)", SUCCEEDED(hr), hr);

    unique_bstr path;
    hr = QueryPathOfRegTypeLib(kLibid, 30, 0, LOCALE_NEUTRAL, path.put());
    check("QueryPathOfRegTypeLib is the installed DLL",
          SUCCEEDED(hr) && path.get() && lstrcmpiW(path.get(), argv[1]) == 0, hr);

    com_ptr<IDispatch> object;
    hr = CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.put_void());
    check("CoCreateInstance", SUCCEEDED(hr) && object, hr);

    // The server came from the installed file, not from some other copy.
    const HMODULE module = GetModuleHandleW(argv[1]);
    check("server loaded from the installed path", module != nullptr);

    UINT count = 0;
    hr = object ? object->GetTypeInfoCount(&count) : E_POINTER;
    check("IDispatch type information", SUCCEEDED(hr) && count == 1, hr);
  }
  CoUninitialize();
  std::printf("RESULT failed=%d\n", failures);
  return failures == 0 ? 0 : 1;
}
