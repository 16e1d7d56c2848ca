// HkbHelper: the app catalogue and launch library. Loading it does no work of
// its own; the module-wide objects start empty, and the reference-counted
// HkbhInitialize / HkbhFinalize start and stop what the catalogue needs. No
// exception leaves an export: each one is guarded at its boundary and
// returns a result.
#include <windows.h>

#include "hkb/guard.h"
#include "hkb/unique.h"
#include "hkbh_log.h"
#include "hkbh_reg.h"
#include "launch.h"
#include "monitor_mode.h"
#include "package_manager.h"

namespace {

constexpr wchar_t kExportInitialize[] = L"HkbhInitialize";
constexpr wchar_t kExportFinalize[] = L"HkbhFinalize";
constexpr wchar_t kExportReleaseString[] = L"HkbhReleaseString";

// Calls of HkbhInitialize not yet matched by HkbhFinalize. Both are called on
// the host's one initializing thread.
int s_nCount = 0;

// The package manager lives as long as the library stays loaded. It is
// destroyed when the library is unloaded, but not when the process ends: the
// system has then stopped a refresh thread wherever it was, perhaps holding
// the catalogue's lock, and the memory goes with the process anyway.
CHkbhPackageManager& s_PackageManager = *new CHkbhPackageManager();

// Start-screen and search-pane control for the search launch; it holds the
// app-visibility service and COM on the initializing thread while the library
// is initialized.
CHkbhMonitorMode s_MonitorMode;

HRESULT Initialize() {
  HkbhSetLogSwitch(CHkbhReg::IsDebugLogOn());
  if (HkbhIsLogSwitchOn()) HkbhBuildLogPath();
  WriteLog("%S IN\r\n", kExportInitialize);
  // A browser search whose host was ended before it put the browser setting
  // back left a note of the value to restore.
  CHkbhReg::RestoreRecordedTileImmersiveActivation();
  HRESULT hr = S_OK;
  if (s_nCount == 0) {
    hr = s_MonitorMode.Initialize();
    if (FAILED(hr)) {
      WriteLog("%S OUT(s_MonitorMode.Initialize : hr=%d)\r\n", kExportInitialize, static_cast<int>(hr));
      return hr;
    }
    hr = s_PackageManager.Initialize();
    if (FAILED(hr)) {
      s_MonitorMode.Finalize();
      WriteLog("%S OUT(s_PackageManager.Initialize : hr=%d)\r\n", kExportInitialize, static_cast<int>(hr));
      return hr;
    }
  }
  ++s_nCount;
  WriteLog("%S OUT(%d) : s_nCount(%d)\r\n", kExportInitialize, static_cast<int>(hr), s_nCount);
  return hr;
}

void Finalize() {
  const HkbhTrace trace(kExportFinalize);
  --s_nCount;
  if (s_nCount == 0) {
    s_PackageManager.Finalize();
    s_MonitorMode.Finalize();
  } else if (s_nCount < 0) {
    s_nCount = 0;
  }
  WriteLog("%S OUT : s_nCount(%d)\r\n", kExportFinalize, s_nCount);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH) {
    if (reserved == nullptr) {
      delete &s_PackageManager;
    } else {
      // The process is ending: the service's code may be gone already, so
      // the interface is dropped without a call into it.
      CHkbhMonitorMode::m_pImmersiveMode.detach();
    }
  }
  return TRUE;
}

extern "C" {

HRESULT WINAPI HkbhInitialize() {
  return hkb::Guarded(E_FAIL, [&] { return Initialize(); });
}

void WINAPI HkbhFinalize() {
  hkb::Guarded([] { Finalize(); });
}

HRESULT WINAPI HkbhIsInstalled(const wchar_t* packageFamilyName, BOOL* isInstalled) {
  return hkb::Guarded(E_FAIL, [&] { return HkbhQueryIsInstalled(packageFamilyName, isInstalled); });
}

HRESULT WINAPI HkbhIsInstalledByAppUserModeID(const wchar_t* appUserModelId, BOOL* isInstalled) {
  return hkb::Guarded(E_FAIL,
                      [&] { return HkbhQueryIsInstalledByAppUserModeID(appUserModelId, isInstalled); });
}

HRESULT WINAPI HkbhGetAppDisplayNameByPFN(const wchar_t* packageFamilyName, wchar_t** displayName) {
  return hkb::Guarded(E_FAIL,
                      [&] { return HkbhQueryGetAppDisplayNameByPFN(packageFamilyName, displayName); });
}

void WINAPI HkbhReleaseString(void* string) {
  const HkbhTrace trace(kExportReleaseString);
  if (string != nullptr) ::LocalFree(string);  // a block the library handed out
  trace.Out();
}

HRESULT WINAPI HkbhLaunchBySearch(const wchar_t* name, UINT mode, BOOL useExclusion) {
  return hkb::Guarded(E_FAIL,
                      [&] { return HkbhRunLaunchBySearch(s_PackageManager, name, mode, useExclusion); });
}

HRESULT WINAPI HkbhLaunchIEBySearch(UINT tileMode, UINT searchMode, BOOL useExclusion) {
  return hkb::Guarded(
      E_FAIL, [&] { return HkbhRunLaunchIEBySearch(s_PackageManager, tileMode, searchMode, useExclusion); });
}

HRESULT WINAPI HkbhLaunchByManager(const wchar_t* appUserModelId, const wchar_t* arguments) {
  return hkb::Guarded(E_FAIL, [&] { return HkbhRunLaunchByManager(appUserModelId, arguments); });
}

}  // extern "C"
