// HkbHelper: the app catalogue and launch library. Loading it does no work of
// its own; the module-wide objects start empty, and the reference-counted
// HkbhInitialize / HkbhFinalize start and stop what the catalogue needs. No
// exception leaves an export: each one catches at its boundary and returns a
// result.
#include <windows.h>

#include "hkbh_log.h"
#include "hkbh_reg.h"
#include "package_manager.h"

namespace {

constexpr wchar_t kExportInitialize[] = L"HkbhInitialize";
constexpr wchar_t kExportFinalize[] = L"HkbhFinalize";
constexpr wchar_t kExportReleaseString[] = L"HkbhReleaseString";
constexpr wchar_t kExportLaunchBySearch[] = L"HkbhLaunchBySearch";
constexpr wchar_t kExportLaunchIEBySearch[] = L"HkbhLaunchIEBySearch";
constexpr wchar_t kExportLaunchByManager[] = L"HkbhLaunchByManager";

// Calls of HkbhInitialize not yet matched by HkbhFinalize. Both are called on
// the host's one initializing thread.
int s_nCount = 0;

// The package manager lives as long as the library stays loaded. It is
// destroyed when the library is unloaded, but not when the process ends: the
// system has then stopped a refresh thread wherever it was, perhaps holding
// the catalogue's lock, and the memory goes with the process anyway.
CHkbhPackageManager& s_PackageManager = *new CHkbhPackageManager();

HRESULT Initialize() {
  HkbhSetLogSwitch(CHkbhReg::IsDebugLogOn());
  if (HkbhIsLogSwitchOn()) HkbhBuildLogPath();
  WriteLog("%S IN\r\n", kExportInitialize);
  HRESULT hr = S_OK;
  if (s_nCount == 0) {
    // The monitor-mode component (s_MonitorMode) starts here, before the
    // package manager, once the launch functions bring it.
    hr = s_PackageManager.Initialize();
    if (FAILED(hr)) {
      // ... and is finalized again here.
      WriteLog("%S OUT(s_PackageManager.Initialize : hr=%d)\r\n", kExportInitialize, static_cast<int>(hr));
      return hr;
    }
  }
  ++s_nCount;
  WriteLog("%S OUT(%d) : s_nCount(%d)\r\n", kExportInitialize, static_cast<int>(hr), s_nCount);
  return hr;
}

void Finalize() {
  WriteLog("%S IN\r\n", kExportFinalize);
  --s_nCount;
  if (s_nCount == 0) {
    s_PackageManager.Finalize();
    // The monitor-mode component stops here, once the launch functions bring it.
  } else if (s_nCount < 0) {
    s_nCount = 0;
  }
  WriteLog("%S OUT : s_nCount(%d)\r\n", kExportFinalize, s_nCount);
}

HRESULT NotYetAvailable(const wchar_t* name) {
  WriteLog("%S IN\r\n", name);
  WriteLog("%S OUT(0x%08X)\r\n", name, static_cast<unsigned>(E_NOTIMPL));
  return E_NOTIMPL;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) delete &s_PackageManager;
  return TRUE;
}

extern "C" {

HRESULT WINAPI HkbhInitialize() {
  try {
    return Initialize();
  } catch (...) {
    return E_FAIL;
  }
}

void WINAPI HkbhFinalize() {
  try {
    Finalize();
  } catch (...) {
  }
}

HRESULT WINAPI HkbhIsInstalled(const wchar_t* packageFamilyName, BOOL* isInstalled) {
  try {
    return HkbhQueryIsInstalled(packageFamilyName, isInstalled);
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT WINAPI HkbhIsInstalledByAppUserModeID(const wchar_t* appUserModelId, BOOL* isInstalled) {
  try {
    return HkbhQueryIsInstalledByAppUserModeID(appUserModelId, isInstalled);
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT WINAPI HkbhGetAppDisplayNameByPFN(const wchar_t* packageFamilyName, wchar_t** displayName) {
  try {
    return HkbhQueryGetAppDisplayNameByPFN(packageFamilyName, displayName);
  } catch (...) {
    return E_FAIL;
  }
}

void WINAPI HkbhReleaseString(void* string) {
  WriteLog("%S IN\r\n", kExportReleaseString);
  if (string != nullptr) ::LocalFree(string);
  WriteLog("%S OUT\r\n", kExportReleaseString);
}

// The launch functions arrive with the search launch and the activation
// manager; until then they report that they are not available.
HRESULT WINAPI HkbhLaunchBySearch(const wchar_t*, UINT, BOOL) {
  try {
    return NotYetAvailable(kExportLaunchBySearch);
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT WINAPI HkbhLaunchIEBySearch(UINT, UINT, BOOL) {
  try {
    return NotYetAvailable(kExportLaunchIEBySearch);
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT WINAPI HkbhLaunchByManager(const wchar_t*, const wchar_t*) {
  try {
    return NotYetAvailable(kExportLaunchByManager);
  } catch (...) {
    return E_FAIL;
  }
}

}  // extern "C"
