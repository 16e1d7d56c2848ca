// Stand-in for the system's application activation manager: an in-process
// COM server registered (for a test's scope) under the real class id. Every
// call is recorded under the stand-in name "appactivation":
//   ActivateApplication <AUMID> <arguments or null> <options, decimal>
//   ActivateForFile / ActivateForProtocol <AUMID> <item count> <verb or null>
// The scenario decides the answer:
//   result=<HRESULT>   of every activation (default 0)
//   pid=<number>       process id handed back on success (default 4242)
//   app=<program>      on a successful ActivateApplication, start this program
//                      as Windows starts the activated app, with the AUMID and
//                      the arguments (when not null) as its two arguments; the
//                      process id handed back is then the started one
// The named event "HkbTest.AppActivation.Activated" is set after each record
// when someone has created it (start-up timing).
#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>

#include <string>

#include "hkbstandin/class_factory.h"
#include "hkbstandin/records.h"

namespace {

constexpr wchar_t kName[] = L"appactivation";

hkbstandin::Field Text(LPCWSTR s) { return s ? hkbstandin::Field(std::wstring(s)) : std::nullopt; }

void Signal() {
  if (HANDLE ev = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, L"HkbTest.AppActivation.Activated")) {
    ::SetEvent(ev);
    ::CloseHandle(ev);
  }
}

HRESULT Answer(DWORD* processId) {
  const hkbstandin::Scenario s = hkbstandin::ReadScenario(kName);
  const HRESULT hr = static_cast<HRESULT>(hkbstandin::Number(s, "result", 0));
  if (processId) *processId = SUCCEEDED(hr) ? static_cast<DWORD>(hkbstandin::Number(s, "pid", 4242)) : 0;
  return hr;
}

std::wstring Quoted(const std::wstring& s) {
  std::wstring out = L"\"";
  for (wchar_t c : s) {
    if (c == L'"') out += L'\\';
    out += c;
  }
  return out + L"\"";
}

// Starts the scenario's app for an activation; its process id, or 0.
DWORD StartApp(LPCWSTR appUserModelId, LPCWSTR arguments) {
  const std::wstring app = hkbtest::Wide(hkbstandin::Value(hkbstandin::ReadScenario(kName), "app"));
  if (app.empty()) return 0;
  std::wstring command = Quoted(app) + L" " + Quoted(appUserModelId ? appUserModelId : L"");
  if (arguments) command += L" " + Quoted(arguments);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessW(app.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return 0;
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return pi.dwProcessId;
}

class ActivationManager final
    : public hkbstandin::ComObject<IApplicationActivationManager, IID_IApplicationActivationManager> {
 public:
  HRESULT STDMETHODCALLTYPE ActivateApplication(LPCWSTR appUserModelId, LPCWSTR arguments,
                                                ACTIVATEOPTIONS options, DWORD* processId) override {
    hkbstandin::AppendRecord(kName, {L"ActivateApplication", Text(appUserModelId), Text(arguments),
                                     std::to_wstring(static_cast<unsigned>(options))});
    Signal();
    const HRESULT hr = Answer(processId);
    if (SUCCEEDED(hr)) {
      if (const DWORD started = StartApp(appUserModelId, arguments); started && processId)
        *processId = started;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE ActivateForFile(LPCWSTR appUserModelId, IShellItemArray* items, LPCWSTR verb,
                                            DWORD* processId) override {
    return Other(L"ActivateForFile", appUserModelId, items, verb, processId);
  }
  HRESULT STDMETHODCALLTYPE ActivateForProtocol(LPCWSTR appUserModelId, IShellItemArray* items,
                                                DWORD* processId) override {
    return Other(L"ActivateForProtocol", appUserModelId, items, nullptr, processId);
  }

 private:
  HRESULT Other(const wchar_t* method, LPCWSTR appUserModelId, IShellItemArray* items, LPCWSTR verb,
                DWORD* processId) {
    DWORD count = 0;
    if (items) items->GetCount(&count);
    hkbstandin::AppendRecord(kName, {method, Text(appUserModelId), std::to_wstring(count), Text(verb)});
    Signal();
    return Answer(processId);
  }
};

}  // namespace

HKBSTANDIN_INPROC_SERVER(ActivationManager, CLSID_ApplicationActivationManager)
