#include "hkbtest/standin_scope.h"

#include <cstdio>
#include <cwchar>

#include "hkbtest/harness.h"

namespace hkbtest {

namespace {

std::string Hex(unsigned long v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08lX", v);
  return buf;
}

}  // namespace

StandinScope::StandinScope(const wchar_t* name, const std::string& scenario)
    : m_key(std::wstring(hkbstandin::kConfigRoot) + name),
      m_scenario(TempFilePath(L"ssc")),
      m_records(TempFilePath(L"src")) {
  const bool files = hkbtest::WriteFileBytes(m_scenario, scenario) && hkbtest::WriteFileBytes(m_records, {});
  m_scenarioValue.emplace(HKEY_CURRENT_USER, m_key, L"Scenario", std::optional<std::wstring>(m_scenario));
  m_recordsValue.emplace(HKEY_CURRENT_USER, m_key, L"Records", std::optional<std::wstring>(m_records));
  m_ok = files && m_scenarioValue->ok() && m_recordsValue->ok();
}

StandinScope::~StandinScope() {
  m_recordsValue.reset();
  m_scenarioValue.reset();
  ::DeleteFileW(m_scenario.c_str());
  ::DeleteFileW(m_records.c_str());
}

bool StandinScope::SetScenario(const std::string& text) {
  const std::wstring next = m_scenario + L".next";
  if (!hkbtest::WriteFileBytes(next, text)) return false;
  return ::MoveFileExW(next.c_str(), m_scenario.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

std::vector<hkbstandin::Record> StandinScope::Records() const {
  return hkbstandin::ParseRecords(hkbtest::ReadFileBytes(m_records));
}

bool StandinScope::WaitForRecords(size_t count, std::chrono::milliseconds timeout) const {
  return WaitUntil([&] { return Records().size() >= count; }, timeout);
}

bool operator==(const Activation& a, const Activation& b) {
  return a.method == b.method && a.appUserModelId == b.appUserModelId && a.arguments == b.arguments &&
         a.options == b.options;
}

std::ostream& operator<<(std::ostream& out, const Activation& a) {
  out << hkbtest::Utf8(a.method) << "(\"" << hkbtest::Utf8(a.appUserModelId) << "\", ";
  if (a.arguments)
    out << "\"" << hkbtest::Utf8(*a.arguments) << "\"";
  else
    out << "null";
  return out << ", " << a.options << ")";
}

Activation Activated(const std::wstring& appUserModelId, std::optional<std::wstring> arguments) {
  return Activation{L"ActivateApplication", appUserModelId, std::move(arguments), 0};
}

std::string ActivationManagerStandin::Scenario(HRESULT result) const {
  std::string text = "result=" + Hex(static_cast<unsigned long>(result)) + "\n";
  if (!m_app.empty()) text += "app=" + hkbtest::Utf8(m_app) + "\n";
  return text;
}

ActivationManagerStandin::ActivationManagerStandin(HRESULT result, const std::wstring& app)
    : m_app(app),
      m_scope(L"appactivation", Scenario(result)),
      m_server(kClsid, StandinFile(L"appactivation_standin.dll")) {}

bool ActivationManagerStandin::ok() const { return m_scope.ok() && m_server.ok(); }

bool ActivationManagerStandin::SetResult(HRESULT result) { return m_scope.SetScenario(Scenario(result)); }

std::vector<Activation> ActivationManagerStandin::Activations() const {
  std::vector<Activation> out;
  for (const hkbstandin::Record& r : m_scope.Records()) {
    Activation a;
    if (r.size() > 0 && r[0]) a.method = *r[0];
    if (r.size() > 1 && r[1]) a.appUserModelId = *r[1];
    if (r.size() > 2) a.arguments = r[2];
    if (r.size() > 3 && r[3] && a.method == L"ActivateApplication")
      a.options = std::wcstoul(r[3]->c_str(), nullptr, 10);
    out.push_back(std::move(a));
  }
  return out;
}

AppVisibilityStandin::AppVisibilityStandin(const std::string& scenario)
    : m_scope(L"appvisibility", scenario), m_server(kClsid, StandinFile(L"appvisibility_standin.dll")) {}

bool AppVisibilityStandin::ok() const {
  return m_scope.ok() && m_server.ok() && FileExists(StandinFile(L"appvisibility_standin.dll"));
}

bool AppVisibilityStandin::SetScenario(const std::string& text) {
  if (!m_scope.SetScenario(text)) return false;
  hkbstandin::AppendRecord(L"appvisibility", {L"scenario"});
  return true;
}

std::vector<std::wstring> AppVisibilityStandin::Calls() const {
  std::vector<std::wstring> out;
  for (const hkbstandin::Record& r : m_scope.Records())
    if (!r.empty() && r[0] && *r[0] != L"scenario") out.push_back(*r[0]);
  return out;
}

std::vector<std::wstring> AppVisibilityStandin::Monitors() const {
  std::vector<std::wstring> out;
  for (const hkbstandin::Record& r : m_scope.Records())
    if (r.size() > 1 && r[0] && *r[0] == L"GetAppVisibilityOnMonitor" && r[1]) out.push_back(*r[1]);
  return out;
}

PackageManagerStandin::PackageManagerStandin(const std::wstring& scenarioFile,
                                             const std::wstring& recordsFile)
    : m_scenarioFile(scenarioFile),
      m_recordsFile(recordsFile),
      m_dll(HKEY_LOCAL_MACHINE, kClassKey, L"DllPath",
            std::optional<std::wstring>(StandinFile(L"package_manager_standin.dll"))),
      m_scenario(L"HKBH_PM_SCENARIO", scenarioFile),
      m_records(L"HKBH_PM_RECORDS", recordsFile) {
  m_ok = m_dll.ok() && FileExists(StandinFile(L"package_manager_standin.dll")) && SetScenario("");
}

bool PackageManagerStandin::SetScenario(const std::string& text) const {
  return WriteFileBytes(m_scenarioFile, text);
}

std::vector<std::string> PackageManagerStandin::Lines() const {
  return SplitLines(ReadFileBytes(m_recordsFile));
}

}  // namespace hkbtest
