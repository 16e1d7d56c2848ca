// The package manager's names and folders, and its lifecycle: Initialize
// takes the role and loads the catalogue, Finalize stops the refresh.
#include "package_manager.h"

#include <shlobj.h>

#include <cwchar>
#include <string>

#include "catalogue_paths.h"
#include "hkb/module.h"
#include "package_rules.h"
#include "startup_logic.h"

namespace {

constexpr wchar_t kInitialize[] = L"CHkbhPackageManager::Initialize";
constexpr wchar_t kFinalize[] = L"CHkbhPackageManager::Finalize";
constexpr wchar_t kCreateFolder[] = L"CHkbhPackageManager::CreateAppNameListFolder";
constexpr wchar_t kModuleName[] = L"CHkbhPackageManager::GetModuleName";
constexpr wchar_t kPresetPath[] = L"CHkbhPackageManager::GetPresetAppNameFullPath";

constexpr int kFinalizeProbes = 100;
constexpr DWORD kProbeIntervalMs = 100;
constexpr DWORD kThreadWaitMs = 30000;

BOOL ExecutablePath(wchar_t (&out)[kHkbhPathChars]) { return hkb::ModuleFileName(nullptr, out) != 0; }

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
  const HkbhTrace trace(kCreateFolder);
  folder[0] = L'\0';
  wchar_t local[kHkbhPathChars];
  wchar_t base[kHkbhPathChars];
  const DWORD n = ::GetEnvironmentVariableW(L"LOCALAPPDATA", local, static_cast<DWORD>(kHkbhPathChars));
  if (n == 0 || n >= kHkbhPathChars || FAILED(GetModuleName(base))) {
    trace.OutValue(0);
    return E_FAIL;
  }
  const auto path = hkbh::CatalogueFolder(local, base);
  if (!path || !HkbhCopyPath(*path, folder)) {
    trace.OutValue(0);
    return E_FAIL;
  }
  const int rc = ::SHCreateDirectoryExW(nullptr, folder, nullptr);
  if (rc != ERROR_SUCCESS) WriteLog("%S SHCreateDirectoryEx failed. ErrCode = (%d)\r\n", kCreateFolder, rc);
  trace.OutValue(1);
  return S_OK;
}

BOOL CHkbhPackageManager::GetPresetAppNameFullPath(wchar_t (&path)[kHkbhPathChars]) {
  const HkbhTrace trace(kPresetPath);
  wchar_t exe[kHkbhPathChars];
  const auto preset = ExecutablePath(exe) ? hkbh::PresetPath(exe) : std::nullopt;
  if (!preset || !HkbhCopyPath(*preset, path)) {
    trace.OutValue(0);
    return FALSE;
  }
  trace.OutValue(1);
  return TRUE;
}

// ===========================================================================
// Lifecycle

HRESULT CHkbhPackageManager::Initialize() {
  const HkbhTrace trace(kInitialize);
  if (m_hExitEvent && m_hRefreshThread) return trace.Out(S_FALSE);

  wchar_t base[kHkbhPathChars];
  const std::wstring mutexName = [&] {
    if (FAILED(GetModuleName(base))) return hkbh::InstanceMutexName(nullptr);
    const std::wstring text(base);
    return hkbh::InstanceMutexName(&text);
  }();
  HkbhCopyPath(mutexName, m_szInstanceMutexName);

  hkbh::InstanceMutex made = hkbh::InstanceMutex::Failed;
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, m_szInstanceMutexName);
  if (mutex == nullptr) {
    WriteLog("%S CreateMutex() failed. \r\n", kInitialize);
  } else if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(mutex);
    made = hkbh::InstanceMutex::AlreadyExists;
  } else {
    WriteLog("%S CreateMutex() success. \r\n", kInitialize);
    m_hInstanceMutex.store(mutex);
    made = hkbh::InstanceMutex::Created;
  }

  wchar_t folder[kHkbhPathChars];
  wchar_t appNameList[kHkbhPathChars];
  CreateAppNameListFolder(folder);
  HkbhAppNameListPath(folder, appNameList);

  // Without a catalogue folder there is no catalogue file: the preset serves,
  // and nothing is saved. A reader whose owner is in its first refresh gives
  // it a moment to finish and save.
  const bool haveFile =
      appNameList[0] != L'\0' && ::GetFileAttributesW(appNameList) != INVALID_FILE_ATTRIBUTES;
  const hkbh::StartupChoice choice = hkbh::ChooseStartup(made, haveFile, [this] {
    hkb::UniqueHandle other(::OpenMutexW(SYNCHRONIZE, FALSE, m_szInstanceMutexName));
    if (!other) {
      WriteLog("OpenMutex() : Mutex none. \r\n");
      return true;
    }
    ::Sleep(kProbeIntervalMs);
    return false;
  });
  const bool owner = choice.runs_refresh;

  HRESULT hr = S_OK;
  wchar_t load[kHkbhPathChars] = {};
  bool chosen = true;
  if (choice.source == hkbh::CatalogueSource::CatalogueFile)
    std::wmemcpy(load, appNameList, kHkbhPathChars);
  else
    chosen = GetPresetAppNameFullPath(load) != FALSE;

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
  return trace.Out(hr);
}

void CHkbhPackageManager::CloseInstanceMutex() {
  if (HANDLE mutex = m_hInstanceMutex.exchange(nullptr)) ::CloseHandle(mutex);
}

BOOL CHkbhPackageManager::IsExitRequested() const {
  return m_hExitEvent && ::WaitForSingleObject(m_hExitEvent.get(), 0) != WAIT_TIMEOUT;
}

void CHkbhPackageManager::Finalize() {
  const HkbhTrace trace(kFinalize);
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
  trace.Out();
}
