// Windows Runtime ownership: an owned HSTRING and a scoped Windows Runtime
// initialisation. Users link the Windows Runtime functions (runtimeobject).
#pragma once

#include <windows.h>
#include <roapi.h>
#include <winstring.h>

#include <string_view>
#include <utility>

namespace hkb {

class HString {
 public:
  HString() noexcept = default;
  HString(const HString&) = delete;
  HString& operator=(const HString&) = delete;
  HString(HString&& o) noexcept : m_s(std::exchange(o.m_s, nullptr)) {}
  HString& operator=(HString&& o) noexcept {
    if (this != &o) reset(std::exchange(o.m_s, nullptr));
    return *this;
  }
  ~HString() { reset(); }

  // A copy of the text; an empty text gives the null HSTRING, which is the
  // empty string of the Windows Runtime.
  static HRESULT Create(std::wstring_view text, HString& out) noexcept {
    out.reset();
    if (text.empty()) return S_OK;
    return ::WindowsCreateString(text.data(), static_cast<UINT32>(text.size()), &out.m_s);
  }

  HSTRING get() const noexcept { return m_s; }
  HSTRING* put() noexcept {
    reset();
    return &m_s;
  }
  std::wstring_view view() const noexcept {
    UINT32 length = 0;
    const wchar_t* text = ::WindowsGetStringRawBuffer(m_s, &length);
    return text ? std::wstring_view(text, length) : std::wstring_view();
  }

 private:
  void reset(HSTRING s = nullptr) noexcept {
    if (HSTRING old = std::exchange(m_s, s)) ::WindowsDeleteString(old);
  }
  HSTRING m_s = nullptr;
};

// RoInitialize for a scope. RoUninitialize is due only when the call
// succeeded (S_OK or S_FALSE); a thread whose apartment is of the other kind
// (RPC_E_CHANGED_MODE) keeps it and is not uninitialized.
class RoInit {
 public:
  RoInit() noexcept = default;
  RoInit(const RoInit&) = delete;
  RoInit& operator=(const RoInit&) = delete;
  ~RoInit() {
    if (m_due) ::RoUninitialize();
  }
  HRESULT initialize(RO_INIT_TYPE type) noexcept {
    if (m_due) return S_FALSE;
    const HRESULT hr = ::RoInitialize(type);
    m_due = SUCCEEDED(hr);
    return hr;
  }
  bool uninitialize_due() const noexcept { return m_due; }

 private:
  bool m_due = false;
};

}  // namespace hkb
