#include "client_run.h"

#include "hkbtest/harness.h"

namespace fnktest {

namespace {

constexpr wchar_t kLocatorKey[] =
    L"Software\\Classes\\CLSID\\{4590F811-1D3A-11D0-891F-00AA004B2E24}\\InprocServer32";
constexpr wchar_t kClientExe[] = L"hkbfnk_client.exe";
const std::wstring kAppDefaults = std::wstring(L"Software\\Wine\\AppDefaults\\") + kClientExe;

bool KeyExists(HKEY root, const std::wstring& key) {
  HKEY k = nullptr;
  if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &k) != ERROR_SUCCESS) return false;
  ::RegCloseKey(k);
  return true;
}

std::wstring StandinFolder() { return hkbtest::StandinFile(L"hkbfnk\\"); }

}  // namespace

ScopedRegistryValue::ScopedRegistryValue(HKEY root, const std::wstring& key, const wchar_t* name,
                                         std::optional<std::wstring> value)
    : m_root(root), m_key(key), m_name(name ? name : L"") {
  // Which keys of the path are missing now.
  for (size_t at = 0; at != std::wstring::npos;) {
    at = key.find(L'\\', at + 1);
    const std::wstring part = key.substr(0, at);
    if (!KeyExists(root, part)) m_created.push_back(part);
  }
  HKEY k = nullptr;
  if (::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE | KEY_WOW64_64KEY, nullptr, &k,
                        nullptr) != ERROR_SUCCESS)
    return;
  DWORD size = 0;
  if (::RegQueryValueExW(k, m_name.c_str(), nullptr, &m_type, nullptr, &size) == ERROR_SUCCESS) {
    m_old.resize(size);
    m_had = ::RegQueryValueExW(k, m_name.c_str(), nullptr, &m_type, m_old.data(), &size) == ERROR_SUCCESS;
  }
  LSTATUS st = ERROR_SUCCESS;
  if (value) {
    st = ::RegSetValueExW(k, m_name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                          static_cast<DWORD>((value->size() + 1) * sizeof(wchar_t)));
  } else if (m_had) {
    st = ::RegDeleteValueW(k, m_name.c_str());
  }
  ::RegCloseKey(k);
  m_ok = st == ERROR_SUCCESS;
}

ScopedRegistryValue::~ScopedRegistryValue() {
  HKEY k = nullptr;
  if (::RegOpenKeyExW(m_root, m_key.c_str(), 0, KEY_WRITE | KEY_WOW64_64KEY, &k) == ERROR_SUCCESS) {
    if (m_had)
      ::RegSetValueExW(k, m_name.c_str(), 0, m_type, m_old.data(), static_cast<DWORD>(m_old.size()));
    else
      ::RegDeleteValueW(k, m_name.c_str());
    ::RegCloseKey(k);
  }
  // Keys made for the scope go again, deepest first, when nothing else is in them.
  for (auto it = m_created.rbegin(); it != m_created.rend(); ++it) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(m_root, it->c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) continue;
    DWORD subkeys = 0, values = 0;
    ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr);
    ::RegCloseKey(key);
    if (subkeys == 0 && values == 0) ::RegDeleteKeyExW(m_root, it->c_str(), KEY_WOW64_64KEY, 0);
  }
}

LocatorOverride::LocatorOverride()
    : m_server(HKEY_LOCAL_MACHINE, kLocatorKey, nullptr, StandinFolder() + L"wmi_standin.dll"),
      m_model(HKEY_LOCAL_MACHINE, kLocatorKey, L"ThreadingModel", std::wstring(L"Both")) {}

std::wstring LocatorOverride::CurrentServer() {
  wchar_t buf[MAX_PATH] = {};
  DWORD size = sizeof(buf);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kLocatorKey, nullptr, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr,
                     buf, &size) != ERROR_SUCCESS)
    return L"";
  return buf;
}

std::vector<std::string> Trace::With(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const std::string& l : lines)
    if (l.rfind(prefix, 0) == 0) out.push_back(l);
  return out;
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
    hkbtest::ScopedEnv scenario_env(L"HKBFNK_SCENARIO", scenario);
    hkbtest::ScopedEnv trace_env(L"HKBFNK_TRACE", trace);
    std::optional<hkbtest::ScopedEnv> quiet_env;
    if (setup.quiet) quiet_env.emplace(L"HKBFNK_QUIET", L"1");
    ScopedRegistryValue overrides(
        HKEY_CURRENT_USER, kAppDefaults + L"\\DllOverrides", L"powrprof",
        setup.power_standin ? std::optional<std::wstring>(L"native") : std::nullopt);
    ScopedRegistryValue version(HKEY_CURRENT_USER, kAppDefaults, L"Version",
                                setup.version ? std::optional<std::wstring>(setup.version) : std::nullopt);

    std::wstring cmdline = L"\"" + StandinFolder() + kClientExe + L"\" \"" +
                           hkbtest::DistFile(L"Program Files\\ZEVHKB\\HKBFNK.dll") + L"\"";
    for (const std::wstring& c : commands) cmdline += L" " + c;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (::CreateProcessW(nullptr, cmdline.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                         StandinFolder().c_str(), &si, &pi)) {
      run.finished = ::WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0;
      if (!run.finished) ::TerminateProcess(pi.hProcess, 99);
      ::GetExitCodeProcess(pi.hProcess, &run.exit_code);
      ::CloseHandle(pi.hThread);
      ::CloseHandle(pi.hProcess);
    }
  }
  const std::string text = hkbtest::ReadFileBytes(trace);
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    run.lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  ::DeleteFileW(scenario.c_str());
  ::DeleteFileW(trace.c_str());
  return run;
}

}  // namespace fnktest
