#include "corvane/com/class_factory.h"

#include <new>

#include "corvane/com/com_error.h"
#include "corvane/com/mail_object.h"
#include "corvane/com/server_module.h"

namespace corvane::com {

HRESULT ClassFactory::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

// A class object held by a caller keeps the server loaded, as a lock does.
ULONG ClassFactory::AddRef() {
  lock_server(true);
  return 2;
}

ULONG ClassFactory::Release() {
  lock_server(false);
  return 1;
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  MailObject* object = nullptr;
  const HRESULT created = com_call([&] { object = new MailObject(); });
  if (FAILED(created)) return created;
  const HRESULT hr = object->QueryInterface(iid, out);
  object->Release();  // the reference of construction; the caller holds its own, if any
  return hr;
}

HRESULT ClassFactory::LockServer(BOOL lock) {
  lock_server(lock != FALSE);
  return S_OK;
}

ClassFactory& class_factory() noexcept {
  static ClassFactory factory;
  return factory;
}

}  // namespace corvane::com
