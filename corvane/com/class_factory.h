#pragma once
// The class object of MailObjectModel: creates objects, and keeps the server loaded while a
// caller holds a lock on it. One static instance serves every request.

#include <windows.h>
#include <ole2.h>

namespace corvane::com {

class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;
};

// The server's one class object (not reference counted: it lives as long as the module).
ClassFactory& class_factory() noexcept;

}  // namespace corvane::com
