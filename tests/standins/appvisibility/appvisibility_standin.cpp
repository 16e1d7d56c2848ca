// Stand-in for the system's app-visibility service (IAppVisibility): an
// in-process COM server registered (for a test's scope) under the real class
// id. Records under the stand-in name "appvisibility":
//   create / destroy                       an object made / its last release
//   IsLauncherVisible
//   GetAppVisibilityOnMonitor <monitor handle, hex>
// The scenario decides the answers. The n-th call of a method since the
// scenario was set (the test marks that with a "scenario" record) takes the
// n-th item of its comma-separated list, the last item repeating:
//   launcher=<0|1,...>      IsLauncherVisible (default 0)
//   visibility=<0|1|2,...>  GetAppVisibilityOnMonitor (default 1)
//   launcher.hr=<HRESULT>   IsLauncherVisible fails with it
//   visibility.hr=<HRESULT> GetAppVisibilityOnMonitor fails with it
#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "hkbstandin/class_factory.h"
#include "hkbstandin/records.h"

namespace {

constexpr wchar_t kName[] = L"appvisibility";
constexpr CLSID kClass = {0x7e5fe3d9, 0x985f, 0x4908, {0x91, 0xf9, 0xee, 0x19, 0xf9, 0xfd, 0x15, 0x14}};
constexpr IID kInterface = {0x2246ea2d, 0xcaea, 0x4444, {0xa3, 0xc4, 0x6d, 0xe8, 0x27, 0xe4, 0x43, 0x13}};

// How often `method` was recorded since the last "scenario" record.
size_t CallsBefore(const wchar_t* method) {
  size_t n = 0;
  for (const hkbstandin::Record& r :
       hkbstandin::ParseRecords(hkbtest::ReadFileBytes(hkbstandin::ConfigPath(kName, L"Records")))) {
    if (r.empty() || !r[0]) continue;
    if (*r[0] == L"scenario") n = 0;
    if (*r[0] == method) ++n;
  }
  return n;
}

// The item for call `index` of a comma-separated list.
long Item(const std::string& list, size_t index, long fallback) {
  if (list.empty()) return fallback;
  size_t from = 0;
  for (size_t i = 0;; ++i) {
    const size_t comma = list.find(',', from);
    if (i == index || comma == std::string::npos)
      return std::strtol(
          list.substr(from, comma == std::string::npos ? std::string::npos : comma - from).c_str(), nullptr,
          0);
    from = comma + 1;
  }
}

class VisibilityService final : public hkbstandin::ComObject<IAppVisibility, kInterface> {
 public:
  VisibilityService() { hkbstandin::AppendRecord(kName, {L"create"}); }
  ~VisibilityService() override { hkbstandin::AppendRecord(kName, {L"destroy"}); }

  HRESULT STDMETHODCALLTYPE GetAppVisibilityOnMonitor(HMONITOR monitor,
                                                      MONITOR_APP_VISIBILITY* mode) override {
    const size_t index = CallsBefore(L"GetAppVisibilityOnMonitor");
    wchar_t handle[32];
    std::swprintf(handle, 32, L"%llx", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(monitor)));
    hkbstandin::AppendRecord(kName, {L"GetAppVisibilityOnMonitor", std::wstring(handle)});
    const hkbstandin::Scenario s = hkbstandin::ReadScenario(kName);
    const HRESULT hr = static_cast<HRESULT>(hkbstandin::Number(s, "visibility.hr", 0));
    if (FAILED(hr)) return hr;
    if (!mode) return E_POINTER;
    *mode = static_cast<MONITOR_APP_VISIBILITY>(Item(hkbstandin::Value(s, "visibility"), index, 1));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsLauncherVisible(BOOL* visible) override {
    const size_t index = CallsBefore(L"IsLauncherVisible");
    hkbstandin::AppendRecord(kName, {L"IsLauncherVisible"});
    const hkbstandin::Scenario s = hkbstandin::ReadScenario(kName);
    const HRESULT hr = static_cast<HRESULT>(hkbstandin::Number(s, "launcher.hr", 0));
    if (FAILED(hr)) return hr;
    if (!visible) return E_POINTER;
    *visible = Item(hkbstandin::Value(s, "launcher"), index, 0) != 0 ? TRUE : FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Advise(IAppVisibilityEvents*, DWORD* cookie) override {
    if (cookie) *cookie = 0;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return E_NOTIMPL; }
};

}  // namespace

HKBSTANDIN_INPROC_SERVER(VisibilityService, kClass)
