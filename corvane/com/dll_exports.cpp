// The entry points of Corvane.dll, exported by name through corvane.def.

#include <windows.h>
#include <ole2.h>

#include "corvane/com/class_factory.h"
#include "corvane/com/corvane_idl.h"
#include "corvane/com/registration.h"
#include "corvane/com/server_module.h"

using corvane::com::Scope;

extern "C" {

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid,
                                                               void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_MailObjectModel)) return CLASS_E_CLASSNOTAVAILABLE;
  return corvane::com::class_factory().QueryInterface(iid, out);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return corvane::com::server_in_use() ? S_FALSE : S_OK;
}

HRESULT STDAPICALLTYPE DllRegisterServer() {
  return corvane::com::register_server(Scope::kMachine);
}

HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return corvane::com::unregister_server(Scope::kMachine);
}

// regsvr32 /n /i:user registers for the current user only; /u /n /i:user removes that again.
HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR command_line) {
  const Scope scope = corvane::com::scope_of_command_line(command_line);
  return install ? corvane::com::register_server(scope)
                 : corvane::com::unregister_server(scope);
}

}  // extern "C"
