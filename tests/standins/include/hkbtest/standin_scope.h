// The test side of a stand-in (see hkbstandin/records.h): scenario and records
// files for the scope of a test, named to the stand-in in the registry, and
// the records read back. Also the activation manager stand-in registered
// under the real class id for the scope.
#pragma once

#include <windows.h>

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "hkbstandin/records.h"
#include "hkbtest/registry.h"

namespace hkbtest {

class StandinScope {
 public:
  // `name`: the stand-in's name; `scenario`: its first scenario text.
  explicit StandinScope(const wchar_t* name, const std::string& scenario = {});
  ~StandinScope();
  StandinScope(const StandinScope&) = delete;
  StandinScope& operator=(const StandinScope&) = delete;

  bool ok() const { return m_ok; }
  // Replaces the scenario in one step: a reader sees the old one or the new one.
  bool SetScenario(const std::string& text);
  std::vector<hkbstandin::Record> Records() const;
  // Waits until at least `count` records exist; false at the timeout.
  bool WaitForRecords(size_t count, std::chrono::milliseconds timeout) const;

 private:
  std::wstring m_key;
  std::wstring m_scenario;
  std::wstring m_records;
  std::optional<ScopedRegValue> m_scenarioValue;
  std::optional<ScopedRegValue> m_recordsValue;
  bool m_ok = false;
};

// One call that reached the activation manager stand-in.
struct Activation {
  std::wstring method;  // "ActivateApplication", "ActivateForFile", "ActivateForProtocol"
  std::wstring appUserModelId;
  std::optional<std::wstring> arguments;  // nullopt: null was passed
  unsigned long options = 0;
};
bool operator==(const Activation& a, const Activation& b);
std::ostream& operator<<(std::ostream& out, const Activation& a);

// ActivateApplication(aumid, arguments, AO_NONE) as the stand-in records it.
Activation Activated(const std::wstring& appUserModelId, std::optional<std::wstring> arguments);

// The stand-in registered as the class {45BA127D-10A8-46EA-8AB7-56EA9078943C}
// (64-bit view) for the scope; every activation answers `result`. With `app`,
// a successful ActivateApplication also starts that program as the activated
// app (see the stand-in).
class ActivationManagerStandin {
 public:
  explicit ActivationManagerStandin(HRESULT result = S_OK, const std::wstring& app = {});
  bool ok() const;
  std::vector<Activation> Activations() const;
  bool WaitForActivations(size_t count, std::chrono::milliseconds timeout) const {
    return m_scope.WaitForRecords(count, timeout);
  }
  bool SetResult(HRESULT result);

  static constexpr wchar_t kClassKey[] =
      L"Software\\Classes\\CLSID\\{45BA127D-10A8-46EA-8AB7-56EA9078943C}\\InprocServer32";

 private:
  std::string Scenario(HRESULT result) const;
  std::wstring m_app;
  StandinScope m_scope;
  ScopedRegValue m_server;
  ScopedRegValue m_model;
};

}  // namespace hkbtest
