// Stand-in for the installed checks of HkbHelper.dll, put where the launcher
// loads the library (Program Files\ZEVHKB). Stand-in name "hkbhelper".
// Records: <export> <identifier or null>.
// Scenario: installed=0|1 (the answer for every identifier, default 1);
// missing=<identifier> (repeatable) answers 0 for that identifier.
#include <windows.h>

#include <string>

#include "hkbstandin/records.h"

namespace {

constexpr wchar_t kName[] = L"hkbhelper";

HRESULT Check(const wchar_t* exportName, const wchar_t* id, BOOL* installed) {
  hkbstandin::AppendRecord(kName, {exportName, id ? hkbstandin::Field(id) : std::nullopt});
  if (!id || !installed) return E_POINTER;
  const hkbstandin::Scenario s = hkbstandin::ReadScenario(kName);
  BOOL answer = hkbstandin::Number(s, "installed", 1) != 0;
  for (const std::string& missing : hkbstandin::Values(s, "missing"))
    if (hkbtest::Wide(missing) == id) answer = 0;
  *installed = answer;
  return S_OK;
}

}  // namespace

extern "C" HRESULT HkbhIsInstalled(const wchar_t* packageFamilyName, BOOL* installed) {
  return Check(L"HkbhIsInstalled", packageFamilyName, installed);
}

extern "C" HRESULT HkbhIsInstalledByAppUserModeID(const wchar_t* appUserModelId, BOOL* installed) {
  return Check(L"HkbhIsInstalledByAppUserModeID", appUserModelId, installed);
}
