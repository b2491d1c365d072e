#pragma once
// Owners for the automation resources the server handles: one small template for "a handle and
// the function that releases it", and one alias per handle kind. Every BSTR, SAFEARRAY,
// registry key and interface pointer the server creates is held by one of these until it is
// handed to the caller with release().

#include <windows.h>
#include <ole2.h>

#include <string>
#include <string_view>
#include <utility>

#include "platform/automation_error.h"

namespace corvane::com {

template <class T, auto Close, T Invalid = T{}>
class unique_any {
 public:
  unique_any() = default;
  explicit unique_any(T value) noexcept : value_(value) {}
  unique_any(unique_any&& other) noexcept : value_(other.release()) {}
  unique_any& operator=(unique_any&& other) noexcept {
    reset(other.release());
    return *this;
  }
  unique_any(const unique_any&) = delete;
  unique_any& operator=(const unique_any&) = delete;
  ~unique_any() { reset(); }

  T get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Invalid; }
  // Releases the current value and answers the slot, for functions that fill an out parameter.
  T* put() noexcept {
    reset();
    return &value_;
  }
  T release() noexcept { return std::exchange(value_, Invalid); }
  void reset(T value = Invalid) noexcept {
    if (value_ != Invalid) Close(value_);
    value_ = value;
  }

 private:
  T value_ = Invalid;
};

using unique_bstr = unique_any<BSTR, &::SysFreeString>;

// A new BSTR holding the text; empty when it cannot be made (out of memory).
inline unique_bstr make_bstr_nothrow(std::u16string_view text) noexcept {
  return unique_bstr(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                       static_cast<UINT>(text.size())));
}

// A new BSTR holding the text. Throws AutomationError (out of memory) when it cannot be made.
inline unique_bstr make_bstr(std::u16string_view text) {
  unique_bstr out = make_bstr_nothrow(text);
  if (!out) throw platform::AutomationError(platform::errnum::kOutOfMemory);
  return out;
}

// The text a BSTR holds, embedded NULs included; a null BSTR is the empty text.
inline std::u16string bstr_text(BSTR value) {
  return value ? std::u16string(reinterpret_cast<const char16_t*>(value), SysStringLen(value))
               : std::u16string();
}
using unique_hkey = unique_any<HKEY, &::RegCloseKey>;
using unique_hmodule = unique_any<HMODULE, &::FreeLibrary>;
using unique_hbitmap = unique_any<HBITMAP, &::DeleteObject>;

// A SAFEARRAY of plain elements (bytes, BSTRs). Arrays of our records are released by
// clear_udt (udt_convert.h) with the record that holds them, which clears each element with
// our own code.
using unique_safearray = unique_any<SAFEARRAY*, &::SafeArrayDestroy>;

// Clears a VARIANT that holds no record.
class unique_variant {
 public:
  unique_variant() noexcept { VariantInit(&value_); }
  unique_variant(unique_variant&& other) noexcept : value_(other.release()) {}
  unique_variant(const unique_variant&) = delete;
  unique_variant& operator=(const unique_variant&) = delete;
  ~unique_variant() { VariantClear(&value_); }
  VARIANT* get() noexcept { return &value_; }
  const VARIANT& operator*() const noexcept { return value_; }
  VARIANT release() noexcept {
    VARIANT out = value_;
    VariantInit(&value_);
    return out;
  }

 private:
  VARIANT value_;
};

// An interface pointer holding one reference.
template <class I>
class com_ptr {
 public:
  com_ptr() = default;
  com_ptr(std::nullptr_t) noexcept {}
  // Takes over a reference the caller already owns.
  static com_ptr attach(I* p) noexcept {
    com_ptr out;
    out.p_ = p;
    return out;
  }
  // Adds a reference of its own.
  static com_ptr copy(I* p) noexcept {
    if (p) p->AddRef();
    return attach(p);
  }
  com_ptr(const com_ptr& other) noexcept : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  com_ptr(com_ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  com_ptr& operator=(com_ptr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~com_ptr() { reset(); }

  I* get() const noexcept { return p_; }
  I* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  I** put() noexcept {
    reset();
    return &p_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  I* release() noexcept { return std::exchange(p_, nullptr); }
  void reset() noexcept {
    if (auto* p = std::exchange(p_, nullptr)) p->Release();
  }

  template <class J>
  com_ptr<J> query(REFIID iid) const noexcept {
    com_ptr<J> out;
    if (p_) p_->QueryInterface(iid, out.put_void());
    return out;
  }

 private:
  I* p_ = nullptr;
};

}  // namespace corvane::com
