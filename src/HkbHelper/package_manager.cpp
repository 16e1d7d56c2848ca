#include "package_manager.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstdint>
#include <cwchar>
#include <exception>
#include <string>

#include "hkbh_reg.h"
#include "manifest_reader.h"
#include "package_rules.h"
#include "platform_package.h"

namespace {

constexpr wchar_t kInitialize[] = L"CHkbhPackageManager::Initialize";
constexpr wchar_t kFinalize[] = L"CHkbhPackageManager::Finalize";
constexpr wchar_t kRefreshThread[] = L"CHkbhPackageManager::RefreshThread";
constexpr wchar_t kRefreshMetro[] = L"CHkbhPackageManager::RefreshMetroApps";
constexpr wchar_t kRefreshDesktop[] = L"CHkbhPackageManager::RefreshDesktopApps";
constexpr wchar_t kAddLinkFiles[] = L"CHkbhPackageManager::AddLinkFileToList";
constexpr wchar_t kGetPackageManager[] = L"CHkbhPackageManager::GetPackageManager";
constexpr wchar_t kFindByName[] = L"CHkbhPackageManager::FindPackageByName";
constexpr wchar_t kFindByNameEx[] = L"CHkbhPackageManager::FindPackageByNameEx";
constexpr wchar_t kIsInstalled[] = L"CHkbhPackageManager::IsInstalled";
constexpr wchar_t kIsInstalledEx[] = L"CHkbhPackageManager::IsInstalledEx";
constexpr wchar_t kDisplayNameByPfn[] = L"CHkbhPackageManager::GetAppDisplayNameByPFN";
constexpr wchar_t kExclude[] = L"CHkbhPackageManager::GetExcludeAppNameList";
constexpr wchar_t kCreateFolder[] = L"CHkbhPackageManager::CreateAppNameListFolder";
constexpr wchar_t kModuleName[] = L"CHkbhPackageManager::GetModuleName";
constexpr wchar_t kPresetPath[] = L"CHkbhPackageManager::GetPresetAppNameFullPath";
constexpr wchar_t kExportIsInstalled[] = L"HkbhIsInstalled";
constexpr wchar_t kExportIsInstalledById[] = L"HkbhIsInstalledByAppUserModeID";
constexpr wchar_t kExportDisplayName[] = L"HkbhGetAppDisplayNameByPFN";

constexpr wchar_t kPackageManagerClass[] = L"Windows.Management.Deployment.PackageManager";
constexpr wchar_t kProgramsTree[] = L"\\Microsoft\\Windows\\Start Menu\\Programs";
constexpr wchar_t kAppNameListFile[] = L"AppNameList.xml";

// The refresh thread's exit code when a Start Menu root does not fit its buffer.
constexpr DWORD kRefreshEnvironmentTooLong = 2011;
constexpr DWORD kStartDelayMs = 1000;
constexpr int kFollowerProbes = 5;
constexpr int kFinalizeProbes = 100;
constexpr DWORD kProbeIntervalMs = 100;
constexpr DWORD kThreadWaitMs = 30000;

const wchar_t* Text(const wchar_t* s) { return s ? s : L"(null)"; }

HRESULT Out(const wchar_t* name, HRESULT hr) {
  WriteLog("%S OUT(0x%08X)\r\n", name, static_cast<unsigned>(hr));
  return hr;
}

// Copies text into a 260-unit buffer; FALSE (and an empty buffer) when it does not fit.
BOOL CopyPath(const std::wstring& text, wchar_t (&out)[kHkbhPathChars]) {
  out[0] = L'\0';
  if (text.size() >= kHkbhPathChars) return FALSE;
  std::wmemcpy(out, text.c_str(), text.size() + 1);
  return TRUE;
}

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

BOOL ExecutablePath(wchar_t (&out)[kHkbhPathChars]) {
  const DWORD n = ::GetModuleFileNameW(nullptr, out, static_cast<DWORD>(kHkbhPathChars));
  return n != 0 && n < kHkbhPathChars;
}

// The catalogue file in the folder; empty when there is no folder.
void AppNameListPath(const wchar_t* folder, wchar_t (&out)[kHkbhPathChars]) {
  out[0] = L'\0';
  if (*folder == L'\0') return;
  if (const auto path = hkbh::JoinPath(folder, kAppNameListFile)) CopyPath(*path, out);
}

// The first package of a sequence the package manager handed out; a
// platform error is traced under `operation` and gives none.
void FirstPackage(const wchar_t* operation, hkbrt::IPackageIterable* packages,
                  hkb::ComPtr<hkbrt::IPackage>& first) {
  hkb::ComPtr<hkbrt::IPackageIterator> it;
  HRESULT hr = packages->First(it.put());
  boolean has = 0;
  if (SUCCEEDED(hr)) hr = it ? it->get_HasCurrent(&has) : E_POINTER;
  if (SUCCEEDED(hr) && has) hr = it->get_Current(first.put());
  if (FAILED(hr)) {
    first.reset();
    HkbhPlatformError(operation, hr);
  }
}

// The packages of one family for the current user, or none.
hkb::ComPtr<hkbrt::IPackageIterable> PackagesOfFamily(const wchar_t* operation,
                                                      hkbrt::IPackageManager* manager,
                                                      const wchar_t* familyName) {
  hkb::ComPtr<hkbrt::IPackageIterable> packages;
  hkb::HString user, family;
  HRESULT hr = hkb::HString::Create(familyName, family);
  if (SUCCEEDED(hr))
    hr = manager->FindPackagesByUserSecurityIdPackageFamilyName(user.get(), family.get(), packages.put());
  if (SUCCEEDED(hr) && !packages) hr = E_POINTER;
  if (FAILED(hr)) {
    packages.reset();
    HkbhPlatformError(operation, hr);
  }
  return packages;
}

// True when one of the package's dependencies matches the app id; a platform
// error is traced and counts as no match.
bool HasMatchingDependency(hkbrt::IPackage* package, const wchar_t* appId) {
  hkb::ComPtr<hkbrt::IPackageVectorView> dependencies;
  HRESULT hr = package->get_Dependencies(dependencies.put());
  UINT32 count = 0;
  if (SUCCEEDED(hr)) hr = dependencies ? dependencies->get_Size(&count) : E_POINTER;
  for (UINT32 i = 0; SUCCEEDED(hr) && i < count; ++i) {
    hkb::ComPtr<hkbrt::IPackage> dependency;
    hr = dependencies->GetAt(i, dependency.put());
    std::wstring family;
    if (SUCCEEDED(hr)) hr = HkbhGetPackageFamilyName(dependency.get(), family);
    if (SUCCEEDED(hr) && hkbh::DependencyMatches(family, appId)) return true;
  }
  if (FAILED(hr)) HkbhPlatformError(kFindByNameEx, hr);
  return false;
}

}  // namespace

CHkbhPackageManager::CHkbhPackageManager() = default;

CHkbhPackageManager::~CHkbhPackageManager() { m_AppNameList.Clear(); }

// ===========================================================================
// Names and folders

HRESULT CHkbhPackageManager::GetModuleName(wchar_t* buffer) {
  if (buffer == nullptr) return E_POINTER;
  wchar_t base[kHkbhPathChars];
  if (!HkbhGetExecutableBaseName(base)) {
    WriteLog("%S OUT(0x%08X)\r\n", kModuleName, static_cast<unsigned>(E_FAIL));
    return E_FAIL;
  }
  std::wmemcpy(buffer, base, kHkbhPathChars);
  return S_OK;
}

HRESULT CHkbhPackageManager::CreateAppNameListFolder(wchar_t (&folder)[kHkbhPathChars]) {
  WriteLog("%S IN\r\n", kCreateFolder);
  folder[0] = L'\0';
  wchar_t local[kHkbhPathChars];
  wchar_t base[kHkbhPathChars];
  const DWORD n = ::GetEnvironmentVariableW(L"LOCALAPPDATA", local, static_cast<DWORD>(kHkbhPathChars));
  if (n == 0 || n >= kHkbhPathChars || FAILED(GetModuleName(base))) {
    WriteLog("%S OUT(%d)\r\n", kCreateFolder, 0);
    return E_FAIL;
  }
  const auto path = hkbh::CatalogueFolder(local, base);
  if (!path || !CopyPath(*path, folder)) {
    WriteLog("%S OUT(%d)\r\n", kCreateFolder, 0);
    return E_FAIL;
  }
  const int rc = ::SHCreateDirectoryExW(nullptr, folder, nullptr);
  if (rc != ERROR_SUCCESS) WriteLog("%S SHCreateDirectoryEx failed. ErrCode = (%d)\r\n", kCreateFolder, rc);
  WriteLog("%S OUT(%d)\r\n", kCreateFolder, 1);
  return S_OK;
}

BOOL CHkbhPackageManager::GetPresetAppNameFullPath(wchar_t (&path)[kHkbhPathChars]) {
  WriteLog("%S IN\r\n", kPresetPath);
  wchar_t exe[kHkbhPathChars];
  const auto preset = ExecutablePath(exe) ? hkbh::PresetPath(exe) : std::nullopt;
  if (!preset || !CopyPath(*preset, path)) {
    WriteLog("%S OUT(%d)\r\n", kPresetPath, 0);
    return FALSE;
  }
  WriteLog("%S OUT(%d)\r\n", kPresetPath, 1);
  return TRUE;
}

// ===========================================================================
// Lifecycle

HRESULT CHkbhPackageManager::Initialize() {
  WriteLog("%S IN\r\n", kInitialize);
  if (m_hExitEvent && m_hRefreshThread) return Out(kInitialize, S_FALSE);

  wchar_t base[kHkbhPathChars];
  const std::wstring mutexName = [&] {
    if (FAILED(GetModuleName(base))) return hkbh::InstanceMutexName(nullptr);
    const std::wstring text(base);
    return hkbh::InstanceMutexName(&text);
  }();
  CopyPath(mutexName, m_szInstanceMutexName);

  bool owner = false;
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, m_szInstanceMutexName);
  if (mutex == nullptr) {
    WriteLog("%S CreateMutex() failed. \r\n", kInitialize);
  } else if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(mutex);
  } else {
    WriteLog("%S CreateMutex() success. \r\n", kInitialize);
    m_hInstanceMutex.store(mutex);
    owner = true;
  }

  wchar_t folder[kHkbhPathChars];
  wchar_t appNameList[kHkbhPathChars];
  CreateAppNameListFolder(folder);
  AppNameListPath(folder, appNameList);

  // Without a catalogue folder there is no catalogue file: the preset serves,
  // and nothing is saved.
  HRESULT hr = S_OK;
  wchar_t load[kHkbhPathChars] = {};
  bool chosen = true;
  if (appNameList[0] == L'\0' || ::GetFileAttributesW(appNameList) == INVALID_FILE_ATTRIBUTES) {
    chosen = GetPresetAppNameFullPath(load) != FALSE;
  } else if (owner) {
    std::wmemcpy(load, appNameList, kHkbhPathChars);
  } else {
    // Another process of this name is in its first refresh: give it a moment
    // to finish and save.
    bool vanished = false;
    for (int i = 0; i < kFollowerProbes && !vanished; ++i) {
      hkb::UniqueHandle other(::OpenMutexW(SYNCHRONIZE, FALSE, m_szInstanceMutexName));
      if (!other) {
        WriteLog("OpenMutex() : Mutex none. \r\n");
        vanished = true;
      } else {
        ::Sleep(kProbeIntervalMs);
      }
    }
    if (vanished)
      std::wmemcpy(load, appNameList, kHkbhPathChars);
    else
      chosen = GetPresetAppNameFullPath(load) != FALSE;
  }

  if (!chosen) {
    hr = E_FAIL;
  } else {
    // What an earlier initialization of this process loaded is replaced, not
    // added to.
    m_AppNameList.Clear();
    const HRESULT loaded = m_AppNameList.Load(load);
    if (FAILED(loaded)) {
      WriteLog("m_AppNameList.Load() failed. ErrCode = 0x%08X \r\n", static_cast<unsigned>(loaded));
      hr = loaded;
    }
    if (owner) {
      const std::wstring eventName = hkbh::ExitEventName(::GetCurrentProcessId());
      m_hExitEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
      if (!m_hExitEvent) {
        WriteLog("CreateEventW() failed. ErrCode = %d \r\n", static_cast<int>(::GetLastError()));
        hr = E_FAIL;
      } else {
        HMODULE self = nullptr;
        ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                             reinterpret_cast<LPCWSTR>(&CHkbhPackageManager::RefreshThread), &self);
        m_hThreadModule = self;
        m_hRefreshThread.reset(
            ::CreateThread(nullptr, 0, &CHkbhPackageManager::RefreshThread, this, 0, nullptr));
        if (!m_hRefreshThread) {
          WriteLog("CreateThread() failed. ErrCode = %d \r\n", static_cast<int>(::GetLastError()));
          if (self != nullptr) ::FreeLibrary(self);
          m_hThreadModule = nullptr;
          m_hExitEvent.reset();
          hr = E_FAIL;
        } else {
          hr = S_OK;
        }
      }
    }
  }
  // An owner that starts no refresh gives its role back at once, so that
  // other processes of this name are not kept waiting for a pass that never
  // comes.
  if (owner && FAILED(hr)) CloseInstanceMutex();
  return Out(kInitialize, hr);
}

void CHkbhPackageManager::CloseInstanceMutex() {
  if (HANDLE mutex = m_hInstanceMutex.exchange(nullptr)) ::CloseHandle(mutex);
}

BOOL CHkbhPackageManager::IsExitRequested() const {
  return m_hExitEvent && ::WaitForSingleObject(m_hExitEvent.get(), 0) != WAIT_TIMEOUT;
}

void CHkbhPackageManager::Finalize() {
  WriteLog("%S IN\r\n", kFinalize);
  if (m_hInstanceMutex.load() != nullptr) {
    // The refresh thread closes the mutex at the end of its first pass; the
    // name stays openable until then.
    for (int i = 0; i < kFinalizeProbes; ++i) {
      hkb::UniqueHandle probe(::OpenMutexW(SYNCHRONIZE, FALSE, m_szInstanceMutexName));
      if (!probe) {
        WriteLog("OpenMutex() : Mutex none. \r\n");
        break;
      }
      ::Sleep(kProbeIntervalMs);
    }
    CloseInstanceMutex();
    m_szInstanceMutexName[0] = L'\0';
  }
  if (m_hExitEvent) {
    ::SetEvent(m_hExitEvent.get());
    if (m_hRefreshThread) {
      // The thread stops at its next check. Should a platform call hold it
      // beyond the usual bound, the wait goes on: the thread must not be left
      // using the catalogue (or this library's code) after Finalize.
      if (::WaitForSingleObject(m_hRefreshThread.get(), kThreadWaitMs) == WAIT_TIMEOUT) {
        WriteLog("%S RefreshThread has not ended in %u ms; waiting on.\r\n", kFinalize,
                 static_cast<unsigned>(kThreadWaitMs));
        ::WaitForSingleObject(m_hRefreshThread.get(), INFINITE);
      }
      m_hRefreshThread.reset();
    }
    m_hExitEvent.reset();
  }
  WriteLog("%S OUT\r\n", kFinalize);
}

// ===========================================================================
// The refresh thread

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
  WriteLog("%S IN\r\n", kRefreshThread);
  wchar_t folder[kHkbhPathChars];
  wchar_t appNameList[kHkbhPathChars];
  CreateAppNameListFolder(folder);
  AppNameListPath(folder, appNameList);

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
  if (const auto tree = hkbh::AppendPath(allUsers, kProgramsTree)) CopyPath(*tree, commonPrograms);
  if (const auto tree = hkbh::AppendPath(appData, kProgramsTree)) CopyPath(*tree, userPrograms);

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
  WriteLog("%S IN\r\n", kRefreshMetro);
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
  return Out(kRefreshMetro, hr);
}

HRESULT CHkbhPackageManager::RefreshDesktopApps(const wchar_t* folder) {
  return RefreshDesktopFolder(folder, 0);
}

HRESULT CHkbhPackageManager::RefreshDesktopFolder(const wchar_t* folder, int depth) {
  WriteLog("%S(%S) IN\r\n", kRefreshDesktop, Text(folder));
  if (folder == nullptr) return Out(kRefreshDesktop, E_POINTER);
  if (*folder == L'\0') return Out(kRefreshDesktop, E_INVALIDARG);
  if (IsExitRequested()) return Out(kRefreshDesktop, S_OK);

  AddLinkFileToList(folder, L"\\*.lnk");
  AddLinkFileToList(folder, L"\\*.url");

  const auto search = hkbh::AppendPath(folder, L"\\*");
  WIN32_FIND_DATAW entry;
  hkb::UniqueFind find(search ? ::FindFirstFileW(search->c_str(), &entry) : INVALID_HANDLE_VALUE);
  if (!find) {
    const DWORD error = search ? ::GetLastError() : static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE);
    WriteLog("Errcode = %d \r\n", static_cast<int>(error));
    return Out(kRefreshDesktop, E_FAIL);
  }
  do {
    if (IsExitRequested()) break;
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    if (std::wcscmp(entry.cFileName, L".") == 0 || std::wcscmp(entry.cFileName, L"..") == 0) continue;
    // A junction or folder link may lead back up the tree, and its shortcuts
    // are catalogued where they really are. Any reparse point counts: some
    // file systems report a folder link with the attribute but without a tag.
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      WriteLog("%S Link not followed: %S\r\n", kRefreshDesktop, entry.cFileName);
      continue;
    }
    if (depth >= kMaxStartMenuDepth) {
      WriteLog("%S Too deep, not entered: %S\r\n", kRefreshDesktop, entry.cFileName);
      continue;
    }
    // A subfolder whose path does not fit is passed over.
    if (const auto sub = hkbh::JoinPath(folder, entry.cFileName))
      RefreshDesktopFolder(sub->c_str(), depth + 1);
  } while (::FindNextFileW(find.get(), &entry));
  return Out(kRefreshDesktop, S_OK);
}

void CHkbhPackageManager::AddLinkFileToList(const wchar_t* folder, const wchar_t* pattern) {
  WriteLog("%S(%S) IN\r\n", kAddLinkFiles, Text(folder));
  if (folder == nullptr || pattern == nullptr) return;
  const auto search = hkbh::AppendPath(folder, pattern);
  WIN32_FIND_DATAW entry;
  hkb::UniqueFind find(search ? ::FindFirstFileW(search->c_str(), &entry) : INVALID_HANDLE_VALUE);
  if (!find) {
    const DWORD error = search ? ::GetLastError() : static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE);
    WriteLog("%S Errcode = %d \r\n", search ? search->c_str() : folder, static_cast<int>(error));
    return;
  }
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const auto path = hkbh::JoinPath(folder, entry.cFileName);
    if (!path) continue;
    const std::wstring display = hkbh::ShortcutDisplayName(entry.cFileName);
    m_AppNameList.AddDesktopApp(display.c_str(), path->c_str());
  } while (::FindNextFileW(find.get(), &entry));
  WriteLog("%S OUT\r\n", kAddLinkFiles);
}

// ===========================================================================
// Queries

hkb::ComPtr<hkbrt::IPackageManager> CHkbhPackageManager::GetPackageManager(hkb::RoInit& runtime) {
  WriteLog("%S IN\r\n", kGetPackageManager);
  HRESULT hr = runtime.initialize(RO_INIT_SINGLETHREADED);
  if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) {
    Out(kGetPackageManager, hr);
    return {};
  }
  hkb::ComPtr<hkbrt::IPackageManager> manager;
  hkb::HString name;
  hkb::ComPtr<IActivationFactory> factory;
  hkb::ComPtr<IInspectable> instance;
  hr = hkb::HString::Create(kPackageManagerClass, name);
  if (SUCCEEDED(hr))
    hr = ::RoGetActivationFactory(name.get(), hkbrt::kIidActivationFactory, factory.put_void());
  if (SUCCEEDED(hr)) hr = factory ? factory->ActivateInstance(instance.put()) : E_POINTER;
  if (SUCCEEDED(hr)) hr = instance ? instance.as(hkbrt::kIidPackageManager, manager) : E_POINTER;
  if (FAILED(hr)) {
    HkbhPlatformError(kGetPackageManager, hr);
    return {};
  }
  Out(kGetPackageManager, S_OK);
  return manager;
}

void CHkbhPackageManager::FindPackageByName(const wchar_t* familyName, CHkbhFoundPackage& found) {
  WriteLog("%S(%S) IN\r\n", kFindByName, Text(familyName));
  if (familyName == nullptr || *familyName == L'\0') {
    Out(kFindByName, familyName == nullptr ? E_POINTER : E_INVALIDARG);
    return;
  }
  const hkb::ComPtr<hkbrt::IPackageManager> manager = GetPackageManager(found.Runtime);
  if (!manager) {
    WriteLog("%S OUT(GetPackageManager failed.)\r\n", kFindByName);
    return;
  }
  const auto packages = PackagesOfFamily(kFindByName, manager.get(), familyName);
  if (packages) FirstPackage(kFindByName, packages.get(), found.Package);
  WriteLog("%S OUT\r\n", kFindByName);
}

void CHkbhPackageManager::FindPackageByNameEx(const wchar_t* familyName, const wchar_t* appId,
                                              CHkbhFoundPackage& found) {
  WriteLog("%S(%S, %S) IN\r\n", kFindByNameEx, Text(familyName), Text(appId));
  if (familyName == nullptr || appId == nullptr || *familyName == L'\0') {
    Out(kFindByNameEx, familyName == nullptr || appId == nullptr ? E_POINTER : E_INVALIDARG);
    return;
  }
  const hkb::ComPtr<hkbrt::IPackageManager> manager = GetPackageManager(found.Runtime);
  if (!manager) {
    WriteLog("%S OUT(GetPackageManager failed.)\r\n", kFindByNameEx);
    return;
  }
  const auto packages = PackagesOfFamily(kFindByNameEx, manager.get(), familyName);
  hkb::ComPtr<hkbrt::IPackageIterator> it;
  boolean has = 0;
  HRESULT hr = packages ? packages->First(it.put()) : S_FALSE;
  if (hr == S_OK) hr = it ? it->get_HasCurrent(&has) : E_POINTER;
  while (SUCCEEDED(hr) && has) {
    hkb::ComPtr<hkbrt::IPackage> package;
    hr = it->get_Current(package.put());
    if (FAILED(hr)) break;
    if (package && HasMatchingDependency(package.get(), appId)) {
      found.Package = package;
      break;
    }
    hr = it->MoveNext(&has);
  }
  if (FAILED(hr)) HkbhPlatformError(kFindByNameEx, hr);
  WriteLog("%S OUT\r\n", kFindByNameEx);
}

HRESULT CHkbhPackageManager::IsInstalled(const wchar_t* familyName, BOOL* isInstalled) {
  WriteLog("%S(%S) IN\r\n", kIsInstalled, Text(familyName));
  if (familyName == nullptr || isInstalled == nullptr) return Out(kIsInstalled, E_POINTER);
  if (*familyName == L'\0') return Out(kIsInstalled, E_INVALIDARG);
  CHkbhFoundPackage found;
  FindPackageByName(familyName, found);
  *isInstalled = found.Package ? TRUE : FALSE;
  WriteLog("%S OUT(*pIsInstalled = %d)\r\n", kIsInstalled, *isInstalled);
  return S_OK;
}

HRESULT CHkbhPackageManager::IsInstalledEx(const wchar_t* familyName, const wchar_t* appId,
                                           BOOL* isInstalled) {
  WriteLog("%S(%S) IN\r\n", kIsInstalledEx, Text(familyName));
  if (familyName == nullptr || appId == nullptr || isInstalled == nullptr)
    return Out(kIsInstalledEx, E_POINTER);
  if (*familyName == L'\0') return Out(kIsInstalledEx, E_INVALIDARG);
  CHkbhFoundPackage found;
  FindPackageByNameEx(familyName, appId, found);
  *isInstalled = found.Package ? TRUE : FALSE;
  WriteLog("%S OUT(*pIsInstalled = %d)\r\n", kIsInstalledEx, *isInstalled);
  return S_OK;
}

HRESULT CHkbhPackageManager::GetAppDisplayNameByPFN(const wchar_t* familyName, wchar_t** displayName) {
  WriteLog("%S(%S, 0x%08X) IN\r\n", kDisplayNameByPfn, Text(familyName),
           static_cast<unsigned>(reinterpret_cast<uintptr_t>(displayName)));
  if (familyName == nullptr || displayName == nullptr) return Out(kDisplayNameByPfn, E_POINTER);
  if (*familyName == L'\0') return Out(kDisplayNameByPfn, E_INVALIDARG);
  CHkbhFoundPackage found;
  FindPackageByName(familyName, found);
  if (!found.Package) return Out(kDisplayNameByPfn, kHkbhNotInstalled);
  return Out(kDisplayNameByPfn, CHkbhManifestReader::GetAppDisplayName(found.Package.get(), displayName));
}

HRESULT CHkbhPackageManager::GetExcludeAppNameList(const wchar_t* keyword, HkbhExcludeList* list,
                                                   BOOL* exact) {
  WriteLog("%S(%S) IN\r\n", kExclude, Text(keyword));
  if (keyword == nullptr || list == nullptr || exact == nullptr) return Out(kExclude, E_POINTER);
  if (*keyword == L'\0') return Out(kExclude, E_INVALIDARG);
  return Out(kExclude, m_AppNameList.GetExcludeAppNameList(keyword, list, exact));
}

// ===========================================================================
// The query exports

HRESULT HkbhQueryIsInstalled(const wchar_t* familyName, BOOL* isInstalled) {
  WriteLog("%S(%S) IN\r\n", kExportIsInstalled, Text(familyName));
  HRESULT hr = E_POINTER;
  if (familyName != nullptr && isInstalled != nullptr)
    hr = *familyName == L'\0' ? E_INVALIDARG : CHkbhPackageManager::IsInstalled(familyName, isInstalled);
  return Out(kExportIsInstalled, hr);
}

HRESULT HkbhQueryIsInstalledByAppUserModeID(const wchar_t* appUserModelId, BOOL* isInstalled) {
  WriteLog("%S(%S) IN\r\n", kExportIsInstalledById, Text(appUserModelId));
  if (appUserModelId == nullptr || isInstalled == nullptr) return Out(kExportIsInstalledById, E_POINTER);
  if (*appUserModelId == L'\0') return Out(kExportIsInstalledById, E_INVALIDARG);
  const hkbh::AppUserModelIdParts parts = hkbh::SplitAppUserModelId(appUserModelId);
  HRESULT hr;
  if (parts.has_bang && parts.office)
    hr = CHkbhPackageManager::IsInstalledEx(parts.family.c_str(), parts.app_id.c_str(), isInstalled);
  else
    hr = CHkbhPackageManager::IsInstalled(parts.family.c_str(), isInstalled);
  return Out(kExportIsInstalledById, hr);
}

HRESULT HkbhQueryGetAppDisplayNameByPFN(const wchar_t* familyName, wchar_t** displayName) {
  WriteLog("%S(%S, 0x%08X) IN\r\n", kExportDisplayName, Text(familyName),
           static_cast<unsigned>(reinterpret_cast<uintptr_t>(displayName)));
  HRESULT hr = E_POINTER;
  if (familyName != nullptr && displayName != nullptr)
    hr = *familyName == L'\0' ? E_INVALIDARG
                              : CHkbhPackageManager::GetAppDisplayNameByPFN(familyName, displayName);
  return Out(kExportDisplayName, hr);
}
