// Stand-in for the platform's packaging factory (CLSID_AppxFactory), which
// Wine lacks. Registered by the tests under the real CLSID, in-process. It
// answers from the scenario file named by HKBH_APPX_SCENARIO and appends what
// it was asked to the file named by HKBH_APPX_TRACE.
//
// Scenario lines (UTF-8):
//   app NAME               an application whose "DisplayName" is NAME
//   app-fail HRESULT       an application whose GetStringValue fails
//   fail METHOD HRESULT    METHOD (CreateManifestReader, GetApplications,
//                          GetCurrent, MoveNext) fails with HRESULT
#include <windows.h>
#include <objidl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "appx_api.h"
#include "hkbstandin/class_factory.h"
#include "hkbtest/env.h"
#include "hkbtest/files.h"
#include "hkbtest/text.h"

namespace {

void Trace(const std::string& line) {
  hkbtest::AppendFileBytes(hkbtest::Env(L"HKBH_APPX_TRACE"), line + "\n");
}

struct Scenario {
  struct App {
    std::wstring name;
    HRESULT fail = S_OK;
  };
  std::vector<App> apps;
  std::vector<std::pair<std::string, HRESULT>> failures;
  HRESULT FailureOf(const char* method) const {
    for (const auto& f : failures)
      if (f.first == method) return f.second;
    return S_OK;
  }
};

Scenario ReadScenario() {
  Scenario s;
  std::istringstream in(hkbtest::ReadFileBytes(hkbtest::Env(L"HKBH_APPX_SCENARIO")));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("app ", 0) == 0) {
      s.apps.push_back({hkbtest::Wide(line.substr(4)), S_OK});
    } else if (line.rfind("app-fail ", 0) == 0) {
      s.apps.push_back({L"", static_cast<HRESULT>(std::strtoul(line.c_str() + 9, nullptr, 16))});
    } else if (line.rfind("fail ", 0) == 0) {
      std::istringstream words(line.substr(5));
      std::string method, code;
      words >> method >> code;
      s.failures.emplace_back(method, static_cast<HRESULT>(std::strtoul(code.c_str(), nullptr, 16)));
    }
  }
  return s;
}

template <class Interface, const IID& kIid>
using Object = hkbstandin::ComObject<Interface, kIid>;

class Application final : public Object<IAppxManifestApplication, kIidAppxManifestApplication> {
 public:
  explicit Application(Scenario::App app) : m_app(std::move(app)) {}
  HRESULT STDMETHODCALLTYPE GetStringValue(LPCWSTR name, LPWSTR* value) override {
    Trace("GetStringValue " + hkbtest::Utf8(name ? name : L"(null)"));
    if (!value) return E_POINTER;
    *value = nullptr;
    if (FAILED(m_app.fail)) return m_app.fail;
    if (!name || std::wstring(name) != L"DisplayName") return E_INVALIDARG;
    const size_t bytes = (m_app.name.size() + 1) * sizeof(wchar_t);
    *value = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
    if (!*value) return E_OUTOFMEMORY;
    std::memcpy(*value, m_app.name.c_str(), bytes);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAppUserModelId(LPWSTR* id) override {
    if (id) *id = nullptr;
    return E_NOTIMPL;
  }

 private:
  Scenario::App m_app;
};

class Applications final
    : public Object<IAppxManifestApplicationsEnumerator, kIidAppxManifestApplicationsEnumerator> {
 public:
  explicit Applications(Scenario s) : m_scenario(std::move(s)) {}
  HRESULT STDMETHODCALLTYPE GetCurrent(IAppxManifestApplication** app) override {
    if (!app) return E_POINTER;
    *app = nullptr;
    if (FAILED(m_scenario.FailureOf("GetCurrent"))) return m_scenario.FailureOf("GetCurrent");
    if (m_index >= m_scenario.apps.size()) return E_UNEXPECTED;
    *app = new Application(m_scenario.apps[m_index]);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetHasCurrent(BOOL* has) override {
    if (!has) return E_POINTER;
    *has = m_index < m_scenario.apps.size();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE MoveNext(BOOL* has) override {
    if (!has) return E_POINTER;
    if (FAILED(m_scenario.FailureOf("MoveNext"))) return m_scenario.FailureOf("MoveNext");
    ++m_index;
    *has = m_index < m_scenario.apps.size();
    return S_OK;
  }

 private:
  Scenario m_scenario;
  size_t m_index = 0;
};

class ManifestReader final : public Object<IAppxManifestReader, kIidAppxManifestReader> {
 public:
  explicit ManifestReader(Scenario s) : m_scenario(std::move(s)) {}
  HRESULT STDMETHODCALLTYPE GetPackageId(IUnknown** out) override { return NotUsed(out); }
  HRESULT STDMETHODCALLTYPE GetProperties(IUnknown** out) override { return NotUsed(out); }
  HRESULT STDMETHODCALLTYPE GetPackageDependencies(IUnknown** out) override { return NotUsed(out); }
  HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetResources(IUnknown** out) override { return NotUsed(out); }
  HRESULT STDMETHODCALLTYPE GetDeviceCapabilities(IUnknown** out) override { return NotUsed(out); }
  HRESULT STDMETHODCALLTYPE GetPrerequisite(LPCWSTR, UINT64*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetApplications(IAppxManifestApplicationsEnumerator** out) override {
    Trace("GetApplications");
    if (!out) return E_POINTER;
    *out = nullptr;
    if (FAILED(m_scenario.FailureOf("GetApplications"))) return m_scenario.FailureOf("GetApplications");
    *out = new Applications(m_scenario);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetStream(IStream** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  static HRESULT NotUsed(IUnknown** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  Scenario m_scenario;
};

class Factory final : public Object<IAppxFactory, kIidAppxFactory> {
 public:
  Factory() { Trace("CreateInstance"); }
  HRESULT STDMETHODCALLTYPE CreatePackageWriter(IStream*, void*, IUnknown** out) override {
    return NotUsed(out);
  }
  HRESULT STDMETHODCALLTYPE CreatePackageReader(IStream*, IUnknown** out) override { return NotUsed(out); }
  HRESULT STDMETHODCALLTYPE CreateManifestReader(IStream* stream, IAppxManifestReader** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    // Which file the stream reads, and whether it was opened for this reader
    // alone (a second open for reading must fail with a sharing violation).
    std::string name = "(unnamed)";
    std::string exclusive = "?";
    STATSTG stat = {};
    if (stream && SUCCEEDED(stream->Stat(&stat, STATFLAG_DEFAULT)) && stat.pwcsName) {
      name = hkbtest::Utf8(stat.pwcsName);
      HANDLE other = ::CreateFileW(stat.pwcsName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
      exclusive = other == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION ? "1" : "0";
      if (other != INVALID_HANDLE_VALUE) ::CloseHandle(other);
      ::CoTaskMemFree(stat.pwcsName);
    }
    Trace("CreateManifestReader " + name + " exclusive=" + exclusive);
    const Scenario scenario = ReadScenario();
    if (FAILED(scenario.FailureOf("CreateManifestReader"))) return scenario.FailureOf("CreateManifestReader");
    *out = new ManifestReader(scenario);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateBlockMapReader(IStream*, IUnknown** out) override { return NotUsed(out); }
  HRESULT STDMETHODCALLTYPE CreateValidatedBlockMapReader(IStream*, LPCWSTR, IUnknown** out) override {
    return NotUsed(out);
  }

 private:
  static HRESULT NotUsed(IUnknown** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
};

}  // namespace

HKBSTANDIN_INPROC_SERVER(Factory, kClsidAppxFactory)
