// Panel brightness through the WMI brightness classes in "ROOT\WMI", the
// power-scheme match, and the library's load and unload handling.
//
// The WMI connection, the level table and the version code are made on first
// need and kept for the life of the process; COM is initialised once, on the
// thread of the first WMI use, and released when the library is unloaded.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemcli.h>
#include <powrprof.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <optional>
#include <string>

#include "HKBFNK.h"
#include "fnk_logic.h"
#include "fnk_state.h"
#include "hkb/com.h"
#include "hkb/guard.h"
#include "hkb/unique.h"

namespace {

using hkbfnk::kMaxLevels;

// The WMI locator class and its interface, as registered by the system.
const CLSID kClsidWbemLocator = {
    0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
const IID kIidWbemLocator = {0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
// Power-scheme subgroup and setting of the display brightness.
const GUID kVideoSubgroup = {0x7516B95F, 0xF776, 0x4464, {0x8C, 0x53, 0x06, 0x16, 0x7F, 0x40, 0xCC, 0x99}};
const GUID kVideoBrightness = {0xADED5E82, 0xB909, 0x4619, {0x99, 0x49, 0xF5, 0xD7, 0x1D, 0xAC, 0x0B, 0xCB}};

constexpr long kConnectUseMaxWait = 0x80;  // bounds how long the connection may wait
constexpr size_t kText = 256;              // every formatted text, with its terminating zero

static_assert(sizeof(OSVERSIONINFOW) == 276);
static_assert((WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY) == 0x30);

// Per-process state of the library.
std::optional<hkb::ComInit> s_comInit;  // this library's own COM initialisation, once it succeeded
DWORD s_comThread = 0;                  // the thread that made it
int s_versionCode = 0;
int s_levelCount = 0;
int s_tableLoaded = 0;
hkb::ComPtr<IWbemServices> s_service;
hkb::ComPtr<IWbemLocator> s_locator;
int s_attachCount = 0;
uint8_t s_levels[kMaxLevels] = {};
wchar_t s_panelName[kText] = {};

int GetOsVersionCode() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!::GetVersionExW(&info)) return hkbfnk::kVersionUnknown;
  return hkbfnk::VersionCode(info.dwMajorVersion, info.dwMinorVersion);
}

// Joins the parts into a 256-unit buffer; false (and an empty text) when the
// whole does not fit.
bool Compose(wchar_t (&out)[kText], std::initializer_list<const wchar_t*> parts) {
  size_t used = 0;
  for (const wchar_t* p : parts) {
    const size_t n = std::wcslen(p);
    if (used + n >= kText) {
      out[0] = L'\0';
      return false;
    }
    std::wmemcpy(out + used, p, n);
    used += n;
  }
  out[used] = L'\0';
  return true;
}

void ReleaseWmi() {
  s_service.reset();
  s_locator.reset();
}

HRESULT ConnectWmi() {
  hkb::Bstr ns(L"ROOT\\WMI");
  ReleaseWmi();
  if (!ns.get()) return E_OUTOFMEMORY;
  HRESULT hr = ::CoCreateInstance(kClsidWbemLocator, nullptr, CLSCTX_INPROC_SERVER, kIidWbemLocator,
                                  s_locator.put_void());
  if (SUCCEEDED(hr) && s_locator) {
    hr = s_locator->ConnectServer(ns.get(), nullptr, nullptr, nullptr, kConnectUseMaxWait, nullptr, nullptr,
                                  s_service.put());
    if (SUCCEEDED(hr) && s_service) {
      hr = ::CoSetProxyBlanket(s_service.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                               RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
      if (SUCCEEDED(hr)) return S_OK;
    }
  }
  ReleaseWmi();
  return E_FAIL;
}

// COM on this thread and the WMI connection, made on first need.
HRESULT EnsureWmi() {
  if (!s_comInit) {
    s_comInit.emplace(COINIT_APARTMENTTHREADED);  // as CoInitialize does
    if (!s_comInit->ok()) {
      const HRESULT hr = s_comInit->result();
      s_comInit.reset();  // tried again by the next call
      return hr;
    }
    s_comThread = ::GetCurrentThreadId();
  }
  if (!s_service) {
    const HRESULT hr = ConnectWmi();
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// Walks the properties of every "WmiMonitorBrightness" instance, in the order
// WMI lists them, calling onProperty(name, value) for each. The result is
// that of the enumerator's last Next.
template <class OnProperty>
HRESULT WalkBrightnessInstances(OnProperty&& onProperty) {
  HRESULT hr = EnsureWmi();
  if (FAILED(hr)) return hr;
  hkb::Bstr cls(L"WmiMonitorBrightness");
  if (!cls.get()) return E_OUTOFMEMORY;
  hkb::ComPtr<IEnumWbemClassObject> instances;
  hr = s_service->CreateInstanceEnum(cls.get(), WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY,
                                     nullptr, instances.put());
  if (FAILED(hr) || !instances) return hr;

  for (;;) {
    hkb::ComPtr<IWbemClassObject> object;
    ULONG returned = 0;
    hr = instances->Next(WBEM_INFINITE, 1, object.put(), &returned);
    if (hr != WBEM_S_NO_ERROR || !object || returned == 0) break;
    if (object->BeginEnumeration(0) != WBEM_S_NO_ERROR) continue;
    for (;;) {
      hkb::Bstr name;
      hkb::Variant value;
      CIMTYPE type = 0;
      long flavor = 0;
      if (object->Next(0, name.put(), value.put(), &type, &flavor) != WBEM_S_NO_ERROR) break;
      if (name.get()) onProperty(name.get(), value.get());
    }
    object->EndEnumeration();
  }
  return hr;
}

bool NameIs(const wchar_t* name, const wchar_t* expected) { return std::wcscmp(name, expected) == 0; }

// The current brightness of the last panel listed; also keeps its instance name.
HRESULT ReadCurrentBrightness(int* brightness) {
  return WalkBrightnessInstances([&](const wchar_t* name, const VARIANT& value) {
    if (NameIs(name, L"InstanceName")) {
      // A name that is no text or does not fit addresses no panel.
      if (value.vt != VT_BSTR || !value.bstrVal || !Compose(s_panelName, {value.bstrVal}))
        s_panelName[0] = L'\0';
    } else if (NameIs(name, L"CurrentBrightness")) {
      if (value.vt == VT_UI1)
        *brightness = value.bVal;
      else if (value.vt == VT_I4 || value.vt == VT_UI4)
        *brightness = static_cast<uint8_t>(value.ulVal);
    }
  });
}

// The level list and level count of the last panel listed. The count is
// limited to the levels the list delivered (and the buffer holds).
HRESULT ReadBrightnessLevels(uint16_t (&levels)[kMaxLevels], int* count) {
  uint32_t stated = 0;
  size_t delivered = 0;
  bool statedSeen = false;
  const HRESULT hr = WalkBrightnessInstances([&](const wchar_t* name, const VARIANT& value) {
    if (NameIs(name, L"Level")) {
      if (value.vt != (VT_ARRAY | VT_UI1) || !value.parray || ::SafeArrayGetDim(value.parray) < 1) return;
      void* data = nullptr;
      if (FAILED(::SafeArrayAccessData(value.parray, &data))) return;
      const size_t elements = value.parray->rgsabound[0].cElements;
      const size_t n = elements < kMaxLevels ? elements : kMaxLevels;
      const auto* bytes = static_cast<const uint8_t*>(data);
      for (size_t i = 0; i < n; ++i) levels[i] = bytes[i];
      ::SafeArrayUnaccessData(value.parray);
      delivered = n;
    } else if (NameIs(name, L"Levels")) {
      if (value.vt == VT_I4 || value.vt == VT_UI4) {
        stated = value.ulVal;
        statedSeen = true;
      }
    }
  });
  if (statedSeen) *count = static_cast<int>(hkbfnk::UsableLevelCount(stated, delivered));
  return hr;
}

// Fills the level table once; false leaves it unloaded so that the next call
// tries again.
bool LoadLevelTable() {
  uint16_t buffer[kMaxLevels] = {};
  int count = 0;
  const HRESULT hr = ReadBrightnessLevels(buffer, &count);
  if (FAILED(hr) || count <= 0) {
    s_tableLoaded = 0;
    return false;
  }
  s_tableLoaded = 1;
  std::memset(s_levels, 0, sizeof(s_levels));
  for (int i = 0; i < count; ++i) s_levels[i] = static_cast<uint8_t>(buffer[i] & 0xFF);
  s_levelCount = count;
  return true;
}

// Sets the panel named by the kept instance name to `level` through
// WmiMonitorBrightnessMethods.WmiSetBrightness.
HRESULT SetPanelBrightness(int level) {
  HRESULT hr = EnsureWmi();
  if (FAILED(hr)) return hr;

  wchar_t path[kText];
  if (!Compose(path, {L"WmiMonitorBrightnessMethods.InstanceName='", s_panelName, L"'"}))
    return WBEM_E_INVALID_OBJECT_PATH;
  wchar_t levelText[kText];
  if (!Compose(levelText, {std::to_wstring(level).c_str()})) return E_INVALIDARG;

  hkb::Bstr cls(L"WmiMonitorBrightnessMethods");
  hkb::Bstr method(L"WmiSetBrightness");
  hkb::Bstr objectPath(path);
  hkb::Bstr brightness(levelText);
  hkb::Bstr timeout(L"0");
  if (!cls.get() || !method.get() || !objectPath.get() || !brightness.get() || !timeout.get())
    return E_OUTOFMEMORY;

  hkb::ComPtr<IWbemClassObject> classObject;
  hkb::ComPtr<IWbemClassObject> signature;
  hkb::ComPtr<IWbemClassObject> inParams;
  hkb::ComPtr<IWbemClassObject> outParams;

  // Each step runs only when the one before answered exactly 0; a step that
  // answers 0 without its object stops the sequence as a failure.
  hr = s_service->GetObject(cls.get(), 0, nullptr, classObject.put(), nullptr);
  if (hr == WBEM_S_NO_ERROR && !classObject) hr = WBEM_E_FAILED;
  if (hr == WBEM_S_NO_ERROR) {
    hr = classObject->GetMethod(method.get(), 0, signature.put(), nullptr);
    if (hr == WBEM_S_NO_ERROR && !signature) hr = WBEM_E_FAILED;
  }
  if (hr == WBEM_S_NO_ERROR) {
    hr = signature->SpawnInstance(0, inParams.put());
    if (hr == WBEM_S_NO_ERROR && !inParams) hr = WBEM_E_FAILED;
  }
  if (hr == WBEM_S_NO_ERROR) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = brightness.get();
    hr = inParams->Put(L"Brightness", 0, &v, CIM_UINT8);
  }
  if (hr == WBEM_S_NO_ERROR) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = timeout.get();
    hr = inParams->Put(L"Timeout", 0, &v, CIM_UINT32);
  }
  if (hr == WBEM_S_NO_ERROR) {
    hr = s_service->ExecMethod(objectPath.get(), method.get(), 0, nullptr, inParams.get(), outParams.put(),
                               nullptr);
  }
  if (hr == WBEM_S_NO_ERROR && outParams) {
    hkb::Variant result;  // the method's own return value is not looked at
    hr = outParams->Get(L"ReturnValue", 0, result.put(), nullptr, nullptr);
  }
  return hr;
}

// The display-brightness value of the active power scheme for the current
// power source.
bool ReadSchemeBrightness(DWORD* value) {
  hkb::LocalPtr<GUID> active;
  {
    GUID* got = nullptr;
    const DWORD status = ::PowerGetActiveScheme(nullptr, &got);
    active.reset(got);
    if (status != ERROR_SUCCESS || !active) return false;
  }
  const GUID scheme = *active;
  active.reset();

  SYSTEM_POWER_STATUS status = {};
  if (!::GetSystemPowerStatus(&status)) return false;

  DWORD index = 0;
  const DWORD read =
      hkbfnk::UseAcIndex(status.ACLineStatus)
          ? ::PowerReadACValueIndex(nullptr, &scheme, &kVideoSubgroup, &kVideoBrightness, &index)
          : ::PowerReadDCValueIndex(nullptr, &scheme, &kVideoSubgroup, &kVideoBrightness, &index);
  if (read != ERROR_SUCCESS) return false;
  *value = index;
  return true;
}

// The last detach of the library, under the loader lock. When the process is
// ending, nothing is released: other threads are gone, COM and the WMI
// provider's module may already be detached, and a call into a proxy could
// wait for a thread that can never run. On FreeLibrary the kept WMI objects
// are released (whether or not the level table was loaded: a held connection
// must not outlive the apartment), then the COM initialisation the library
// made is ended once, and only on the thread that made it; on another thread
// both are left alone, since the objects belong to that thread's apartment
// and CoUninitialize there would take away the caller's own initialisation.
// Neither waits for another thread; COM frees its in-process servers through
// the loader on this same thread, which the loader lock allows.
void ShutdownWmi(bool processEnding) {
  const bool ownThread = s_comInit && ::GetCurrentThreadId() == s_comThread;
  if (processEnding || (s_comInit && !ownThread)) {
    // Left as they are: neither released nor uninitialised, also not by the
    // owners' destructors, which run after this.
    s_service.detach();
    s_locator.detach();
    if (s_comInit) s_comInit->dismiss();
    return;
  }
  ReleaseWmi();
  s_comInit.reset();  // CoUninitialize, once, on the thread that initialised
}

}  // namespace

namespace hkbfnk {

int VersionCodeNow() {
  if (s_versionCode == kVersionUnknown) s_versionCode = GetOsVersionCode();
  return s_versionCode;
}

}  // namespace hkbfnk

extern "C" int HKBFNK_SetCurrentBright(int direction) {
  return hkb::Guarded(0, [&] {
    if (hkbfnk::VersionCodeNow() < hkbfnk::kGateStepBrightness) return 0;
    if (!s_tableLoaded) {
      s_panelName[0] = L'\0';
      if (!LoadLevelTable()) return 0;
    }
    int current = 0;
    if (FAILED(ReadCurrentBrightness(&current))) return 0;
    const int index = hkbfnk::StepLevelIndex(s_levels, static_cast<size_t>(s_levelCount),
                                             static_cast<uint32_t>(current), direction);
    if (index < 0) return 0;
    if (FAILED(SetPanelBrightness(s_levels[index]))) return 0;
    return index + 1;
  });
}

extern "C" int HKBFNK_MatchMonitorBrightness(void) {
  return hkb::Guarded(0, [&] {
    if (hkbfnk::VersionCodeNow() < hkbfnk::kGateMatchScheme) return 0;
    DWORD scheme = 0;
    if (!ReadSchemeBrightness(&scheme)) return 0;
    int current = 0;
    if (FAILED(ReadCurrentBrightness(&current))) return 0;
    if (static_cast<DWORD>(current) == scheme) return 1;
    if (!s_tableLoaded && !LoadLevelTable()) return 0;
    if (hkbfnk::FindLevel(s_levels, static_cast<size_t>(s_levelCount), scheme) < 0) return 0;
    if (FAILED(SetPanelBrightness(static_cast<int>(scheme)))) return 0;
    return 1;
  });
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    ++s_attachCount;
  } else if (reason == DLL_PROCESS_DETACH) {
    if (--s_attachCount == 0) ShutdownWmi(reserved != nullptr);
  }
  return TRUE;
}
