#include "client_run.h"

#include "hkbtest/harness.h"
#include "hkbtest/lines.h"
#include "hkbtest/process.h"

namespace fnktest {

namespace {

constexpr wchar_t kLocatorClsid[] = L"{4590F811-1D3A-11D0-891F-00AA004B2E24}";
constexpr wchar_t kClientExe[] = L"hkbfnk_client.exe";
const std::wstring kAppDefaults = std::wstring(L"Software\\Wine\\AppDefaults\\") + kClientExe;

std::wstring StandinFolder() { return hkbtest::StandinFile(L"hkbfnk\\"); }

}  // namespace

LocatorOverride::LocatorOverride() : m_server(kLocatorClsid, StandinFolder() + L"wmi_standin.dll") {}

std::wstring LocatorOverride::CurrentServer() {
  wchar_t buf[MAX_PATH] = {};
  DWORD size = sizeof(buf);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, hkbtest::ScopedInprocServer::KeyOf(kLocatorClsid).c_str(), nullptr,
                     RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, buf, &size) != ERROR_SUCCESS)
    return L"";
  return buf;
}

std::vector<std::string> Trace::With(const std::string& prefix) const {
  return hkbtest::LinesWith(lines, prefix);
}

std::string Trace::Result(const std::string& command, size_t n) const {
  const std::string head = "client " + command + " = ";
  size_t seen = 0;
  for (const std::string& l : lines) {
    if (l.rfind(head, 0) == 0 && seen++ == n) return l.substr(head.size());
  }
  return "<no result>";
}

std::vector<std::string> Trace::During(const std::string& command, size_t n) const {
  const std::string head = "client " + command + " = ";
  std::vector<std::string> out;
  std::vector<std::string> pending;
  size_t seen = 0;
  for (const std::string& l : lines) {
    if (l.rfind("client ", 0) == 0) {
      if (l.rfind(head, 0) == 0 && seen++ == n) return pending;
      pending.clear();
      continue;
    }
    pending.push_back(l);
  }
  return {};
}

std::string Trace::Text() const {
  std::string t;
  for (const std::string& l : lines) t += "  " + l + "\n";
  return t;
}

Trace RunClient(const ClientSetup& setup, const std::vector<std::wstring>& commands) {
  Trace run;
  const std::wstring scenario = hkbtest::TempFilePath(L"fsc");
  const std::wstring trace = hkbtest::TempFilePath(L"ftr");
  hkbtest::WriteFileBytes(scenario, setup.scenario);
  {
    hkbtest::ScopedEnv scenarioEnv(L"HKBFNK_SCENARIO", scenario);
    hkbtest::ScopedEnv traceEnv(L"HKBFNK_TRACE", trace);
    std::optional<hkbtest::ScopedEnv> quietEnv;
    if (setup.quiet) quietEnv.emplace(L"HKBFNK_QUIET", L"1");
    hkbtest::ScopedRegValue overrides(
        HKEY_CURRENT_USER, kAppDefaults + L"\\DllOverrides", L"powrprof",
        setup.powerStandin ? std::optional<std::wstring>(L"native") : std::nullopt);
    hkbtest::ScopedRegValue version(
        HKEY_CURRENT_USER, kAppDefaults, L"Version",
        setup.version ? std::optional<std::wstring>(setup.version) : std::nullopt);

    std::wstring cmdline = L"\"" + StandinFolder() + kClientExe + L"\" \"" +
                           hkbtest::DistFile(L"Program Files\\ZEVHKB\\HKBFNK.dll") + L"\"";
    for (const std::wstring& c : commands) cmdline += L" " + c;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (hkbtest::CreateProcessPatiently(nullptr, cmdline, FALSE, DETACHED_PROCESS, StandinFolder().c_str(),
                                        si, pi)) {
      run.finished = ::WaitForSingleObject(pi.hProcess, setup.waitMs) == WAIT_OBJECT_0;
      if (!run.finished) ::TerminateProcess(pi.hProcess, 99);
      ::GetExitCodeProcess(pi.hProcess, &run.exitCode);
      ::CloseHandle(pi.hThread);
      ::CloseHandle(pi.hProcess);
    }
  }
  run.lines = hkbtest::SplitLines(hkbtest::ReadFileBytes(trace));
  ::DeleteFileW(scenario.c_str());
  ::DeleteFileW(trace.c_str());
  return run;
}

}  // namespace fnktest
