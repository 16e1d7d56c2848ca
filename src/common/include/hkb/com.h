// COM ownership: an owning interface pointer and a scoped COM initialisation.
#pragma once

#include <objbase.h>
#include <oleauto.h>

#include <utility>

namespace hkb {

template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Takes over a reference the caller already owns (no AddRef).
  static ComPtr attach(T* p) noexcept {
    ComPtr c;
    c.m_p = p;
    return c;
  }
  ComPtr(const ComPtr& o) noexcept : m_p(o.m_p) {
    if (m_p) m_p->AddRef();
  }
  ComPtr(ComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(m_p, o.m_p);
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const noexcept { return m_p; }
  T* operator->() const noexcept { return m_p; }
  explicit operator bool() const noexcept { return m_p != nullptr; }

  void reset() noexcept {
    if (T* p = std::exchange(m_p, nullptr)) p->Release();
  }
  T* detach() noexcept { return std::exchange(m_p, nullptr); }
  T** put() noexcept {
    reset();
    return &m_p;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

  // QueryInterface into another owner; E_POINTER when empty.
  template <class U>
  HRESULT as(REFIID iid, ComPtr<U>& out) const noexcept {
    if (!m_p) return E_POINTER;
    return m_p->QueryInterface(iid, out.put_void());
  }

 private:
  T* m_p = nullptr;
};

// CoInitializeEx for a scope; CoUninitialize only when the call succeeded
// (S_OK or S_FALSE), as the API requires.
class ComInit {
 public:
  explicit ComInit(DWORD model = COINIT_APARTMENTTHREADED) noexcept
      : m_hr(::CoInitializeEx(nullptr, model)) {}
  ComInit(const ComInit&) = delete;
  ComInit& operator=(const ComInit&) = delete;
  ~ComInit() {
    if (SUCCEEDED(m_hr)) ::CoUninitialize();
  }
  HRESULT result() const noexcept { return m_hr; }
  bool ok() const noexcept { return SUCCEEDED(m_hr); }
  // Leaves COM initialised when the object goes: for an initialisation that
  // must outlive its owner (the process is ending, or the owner is not on the
  // thread that made it and so may not end it).
  void dismiss() noexcept { m_hr = E_ABORT; }

 private:
  HRESULT m_hr;
};

// Owned BSTR.
class Bstr {
 public:
  Bstr() noexcept = default;
  explicit Bstr(const wchar_t* s) noexcept : m_s(s ? ::SysAllocString(s) : nullptr) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  Bstr(Bstr&& o) noexcept : m_s(std::exchange(o.m_s, nullptr)) {}
  ~Bstr() { ::SysFreeString(m_s); }
  BSTR get() const noexcept { return m_s; }
  BSTR* put() noexcept {
    ::SysFreeString(std::exchange(m_s, nullptr));
    return &m_s;
  }

 private:
  BSTR m_s = nullptr;
};

// VARIANT cleared on scope exit.
class Variant {
 public:
  Variant() noexcept { ::VariantInit(&m_v); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { ::VariantClear(&m_v); }
  VARIANT* operator&() noexcept { return &m_v; }
  VARIANT& get() noexcept { return m_v; }
  VARIANT* put() noexcept {
    ::VariantClear(&m_v);
    return &m_v;
  }

 private:
  VARIANT m_v;
};

}  // namespace hkb
