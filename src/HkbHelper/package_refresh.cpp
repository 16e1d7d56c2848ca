// The refresh thread of the owner: its passes over the catalogued records,
// the Store packages of the current user and the two Start Menu trees, and
// the save after each pass.
#include "package_manager.h"

#include <shlwapi.h>

#include <exception>
#include <string>

#include "catalogue_paths.h"
#include "hkbh_reg.h"
#include "package_rules.h"
#include "platform_package.h"

namespace {

constexpr wchar_t kRefreshThread[] = L"CHkbhPackageManager::RefreshThread";
constexpr wchar_t kRefreshMetro[] = L"CHkbhPackageManager::RefreshMetroApps";
constexpr wchar_t kProgramsTree[] = L"\\Microsoft\\Windows\\Start Menu\\Programs";

// The refresh thread's exit code when a Start Menu root does not fit its buffer.
constexpr DWORD kRefreshEnvironmentTooLong = 2011;
constexpr DWORD kStartDelayMs = 1000;

// An environment variable into 260 units: FALSE when it does not fit; a
// variable that is not set reads as empty.
BOOL ReadEnvironment(const wchar_t* name, wchar_t (&out)[kHkbhPathChars]) {
  out[0] = L'\0';
  const DWORD n = ::GetEnvironmentVariableW(name, out, static_cast<DWORD>(kHkbhPathChars));
  if (n >= kHkbhPathChars) {
    out[0] = L'\0';
    return FALSE;
  }
  if (n == 0) out[0] = L'\0';
  return TRUE;
}

}  // namespace

DWORD WINAPI CHkbhPackageManager::RefreshThread(LPVOID param) {
  auto* self = static_cast<CHkbhPackageManager*>(param);
  const HMODULE module = self->m_hThreadModule;
  DWORD code = 0;
  try {
    code = self->RunRefreshThread();
  } catch (...) {
    code = static_cast<DWORD>(E_FAIL);
  }
  if (module != nullptr) ::FreeLibraryAndExitThread(module, code);
  return code;
}

DWORD CHkbhPackageManager::RunRefreshThread() {
  const HkbhTrace trace(kRefreshThread);
  wchar_t folder[kHkbhPathChars];
  wchar_t appNameList[kHkbhPathChars];
  CreateAppNameListFolder(folder);
  HkbhAppNameListPath(folder, appNameList);

  wchar_t allUsers[kHkbhPathChars];
  wchar_t appData[kHkbhPathChars];
  if (!ReadEnvironment(L"ALLUSERSPROFILE", allUsers) || !ReadEnvironment(L"APPDATA", appData)) {
    CloseInstanceMutex();
    WriteLog("%S OUT : nRet(0x%08X)\r\n", kRefreshThread, static_cast<unsigned>(kRefreshEnvironmentTooLong));
    return kRefreshEnvironmentTooLong;
  }
  // A tree whose path does not fit is left out (it reads as an empty folder name).
  wchar_t commonPrograms[kHkbhPathChars] = {};
  wchar_t userPrograms[kHkbhPathChars] = {};
  if (const auto tree = hkbh::AppendPath(allUsers, kProgramsTree)) HkbhCopyPath(*tree, commonPrograms);
  if (const auto tree = hkbh::AppendPath(appData, kProgramsTree)) HkbhCopyPath(*tree, userPrograms);

  const DWORD pause = hkbh::RefreshPauseMs(CHkbhReg::GetRefreshInterval());

  if (::WaitForSingleObject(m_hExitEvent.get(), kStartDelayMs) != WAIT_TIMEOUT) {
    CloseInstanceMutex();
    WriteLog("%S OUT : nRet(0x%08X)\r\n", kRefreshThread, 0u);
    return 0;
  }
  for (;;) {
    try {
      RefreshAppNameList(appNameList, commonPrograms, userPrograms);
    } catch (const std::exception&) {
      WriteLog("%S Refresh failed. ErrCode = 0x%08X \r\n", kRefreshThread,
               static_cast<unsigned>(E_OUTOFMEMORY));
    }
    // From now on other processes of this name take the refresh role themselves.
    CloseInstanceMutex();
    if (::WaitForSingleObject(m_hExitEvent.get(), pause) != WAIT_TIMEOUT) break;
  }
  ::ResetEvent(m_hExitEvent.get());
  WriteLog("%S OUT : nRet(0x%08X)\r\n", kRefreshThread, 0u);
  return 0;
}

void CHkbhPackageManager::RefreshAppNameList(const wchar_t* appNameListPath, const wchar_t* commonPrograms,
                                             const wchar_t* userPrograms) {
  WriteLog("%S Refresh app name list!\r\n", kRefreshThread);
  // Every query of the pass initializes the Windows Runtime for itself; held
  // here for the whole pass, those initializations nest into this one
  // instead of making and dropping an apartment for every package.
  hkb::RoInit runtime;
  runtime.initialize(RO_INIT_SINGLETHREADED);

  // Records are never removed one by one, so the indexes hold while the
  // pass runs; only this thread adds records meanwhile.
  const size_t packages = m_AppNameList.PackageCount();
  for (size_t i = 0; i < packages; ++i) {
    std::wstring family;
    if (!m_AppNameList.GetPackageFamilyNameAt(i, family)) continue;
    BOOL installed = TRUE;
    if (FAILED(HkbhQueryIsInstalled(family.c_str(), &installed))) installed = TRUE;
    m_AppNameList.SetPackageInstalledAt(i, installed);
  }
  const size_t desktopApps = m_AppNameList.DesktopAppCount();
  for (size_t i = 0; i < desktopApps; ++i) {
    std::wstring shortcut;
    if (!m_AppNameList.GetDesktopAppLnkFileNameAt(i, shortcut)) continue;
    m_AppNameList.SetDesktopAppInstalledAt(i, ::PathFileExistsW(shortcut.c_str()) ? TRUE : FALSE);
  }

  HRESULT hr = RefreshMetroApps();
  if (FAILED(hr))
    WriteLog("%S RefreshMetroApps() failed. ErrCode = 0x%08X \r\n", kRefreshThread,
             static_cast<unsigned>(hr));
  for (const wchar_t* tree : {commonPrograms, userPrograms}) {
    if (IsExitRequested()) break;
    hr = RefreshDesktopApps(tree);
    if (FAILED(hr))
      WriteLog("%S RefreshDesktopApps() failed. ErrCode = 0x%08X \r\n", kRefreshThread,
               static_cast<unsigned>(hr));
  }
  if (IsExitRequested()) return;
  if (appNameListPath == nullptr || *appNameListPath == L'\0') {
    WriteLog("%S No catalogue folder: the catalogue is not saved.\r\n", kRefreshThread);
    return;
  }
  hr = m_AppNameList.Save(appNameListPath);
  if (FAILED(hr))
    WriteLog("%S pQrhPackageManager->m_AppNameList.Save() failed. ErrCode = 0x%08X \r\n", kRefreshThread,
             static_cast<unsigned>(hr));
}

HRESULT CHkbhPackageManager::RefreshMetroApps() {
  const HkbhTrace trace(kRefreshMetro);
  hkb::RoInit runtime;
  const hkb::ComPtr<hkbrt::IPackageManager> manager = GetPackageManager(runtime);
  if (!manager) {
    WriteLog("%S OUT(GetPackageManager Failed.)\r\n", kRefreshMetro);
    return E_FAIL;
  }
  HRESULT hr = S_OK;
  hkb::HString user;
  hkb::ComPtr<hkbrt::IPackageIterable> packages;
  hkb::ComPtr<hkbrt::IPackageIterator> it;
  boolean has = 0;
  HRESULT platform = manager->FindPackagesByUserSecurityId(user.get(), packages.put());
  if (SUCCEEDED(platform)) platform = packages ? packages->First(it.put()) : E_POINTER;
  if (SUCCEEDED(platform)) platform = it ? it->get_HasCurrent(&has) : E_POINTER;
  while (SUCCEEDED(platform) && has) {
    if (IsExitRequested()) break;
    hkb::ComPtr<hkbrt::IPackage> package;
    platform = it->get_Current(package.put());
    if (FAILED(platform)) break;
    hr = m_AppNameList.AddMetroPackage(package.get());
    platform = it->MoveNext(&has);
  }
  if (FAILED(platform)) hr = HkbhPlatformError(kRefreshMetro, platform);
  return trace.Out(hr);
}
