// The package manager: the catalogue's upkeep (load at initialization, the
// refresh thread, the save) and the installed checks and display-name query
// that ask the platform's package manager directly.
//
// Roles between processes of the same executable base name: the first to
// create the instance mutex owns the first refresh and runs the refresh
// thread; one that finds the mutex follows (it waits briefly for the owner's
// first pass and loads what is there); one that cannot create the mutex runs
// unguarded, without a thread.
//
// Threads: Initialize and Finalize are called on the host's thread; the
// queries on any thread, each with its own Windows Runtime initialisation and
// package-manager object; the refresh thread changes the catalogue while other
// threads read it through its lock.
//
// Files: names, folders and the lifecycle in package_manager.cpp (the role
// chosen by startup_logic), the refresh thread in package_refresh.cpp, the
// Start Menu walk in start_menu.cpp, the queries and their exports in
// package_queries.cpp.
#pragma once

#include <windows.h>

#include <atomic>

#include "app_name_list.h"
#include "hkb/com.h"
#include "hkb/unique.h"
#include "hkb/winrt.h"
#include "hkbh_log.h"
#include "winrt_api.h"

// A package found by the platform's package manager, with the Windows Runtime
// initialisation it was found under; the package is released before the
// runtime is uninitialized.
struct CHkbhFoundPackage {
  hkb::RoInit Runtime;
  hkb::ComPtr<hkbrt::IPackage> Package;
};

class CHkbhPackageManager {
 public:
  CHkbhPackageManager();
  // Empties the catalogue.
  virtual ~CHkbhPackageManager();
  CHkbhPackageManager(const CHkbhPackageManager&) = delete;
  CHkbhPackageManager& operator=(const CHkbhPackageManager&) = delete;

  // Takes the process's role, loads the catalogue (replacing what an earlier
  // initialization left in memory) and, as the owner, starts the refresh
  // thread. S_FALSE when the thread runs already.
  HRESULT Initialize();
  // Stops the refresh thread and releases the handles; returns only once the
  // thread has ended. The catalogue stays in memory.
  void Finalize();

  static DWORD WINAPI RefreshThread(LPVOID param);
  // One refresh pass: installed flags, Store packages, the two Start Menu
  // trees, the save (skipped when the catalogue path is empty). Stops at the
  // next check once the exit event is set.
  void RefreshAppNameList(const wchar_t* appNameListPath, const wchar_t* commonPrograms,
                          const wchar_t* userPrograms);
  HRESULT RefreshMetroApps();
  // Adds the shortcuts of the folder and of its subfolders. A subfolder that is
  // a link to another place (a junction or symbolic link, which may point back
  // up the tree) is not entered, and the walk goes no deeper than
  // kMaxStartMenuDepth levels below `folder`.
  HRESULT RefreshDesktopApps(const wchar_t* folder);
  static constexpr int kMaxStartMenuDepth = 32;
  void AddLinkFileToList(const wchar_t* folder, const wchar_t* pattern);

  // The platform's package manager, or none; `runtime` holds the Windows
  // Runtime initialisation it needs for as long as it is used.
  static hkb::ComPtr<hkbrt::IPackageManager> GetPackageManager(hkb::RoInit& runtime);
  // The first installed package of the family; none leaves found.Package empty.
  static void FindPackageByName(const wchar_t* familyName, CHkbhFoundPackage& found);
  // The first package of the family with a dependency whose family name
  // contains the app id (ignoring letter case).
  static void FindPackageByNameEx(const wchar_t* familyName, const wchar_t* appId, CHkbhFoundPackage& found);
  static HRESULT IsInstalled(const wchar_t* familyName, BOOL* isInstalled);
  static HRESULT IsInstalledEx(const wchar_t* familyName, const wchar_t* appId, BOOL* isInstalled);
  static HRESULT GetAppDisplayNameByPFN(const wchar_t* familyName, wchar_t** displayName);
  HRESULT GetExcludeAppNameList(const wchar_t* keyword, HkbhExcludeList* list, BOOL* exact);

  // Builds and creates the catalogue folder; S_OK with the folder, E_FAIL with
  // an empty one when it cannot be built.
  static HRESULT CreateAppNameListFolder(wchar_t (&folder)[kHkbhPathChars]);
  // The base name of the hosting executable, into 260 units.
  static HRESULT GetModuleName(wchar_t* buffer);
  static BOOL GetPresetAppNameFullPath(wchar_t (&path)[kHkbhPathChars]);

  CHkbhAppNameList m_AppNameList;

 private:
  BOOL IsExitRequested() const;
  // Closes the instance mutex if this process still holds it; whichever of
  // the refresh thread and Finalize comes first closes it, exactly once.
  void CloseInstanceMutex();
  DWORD RunRefreshThread();
  // RefreshDesktopApps for a folder `depth` levels below the tree's root.
  HRESULT RefreshDesktopFolder(const wchar_t* folder, int depth);

  hkb::UniqueHandle m_hExitEvent;
  hkb::UniqueHandle m_hRefreshThread;
  // The library's own reference, held by the running thread so that the
  // code it runs stays loaded; the thread gives it back as it ends.
  HMODULE m_hThreadModule = nullptr;
  std::atomic<HANDLE> m_hInstanceMutex{nullptr};
  wchar_t m_szInstanceMutexName[kHkbhPathChars] = {};
};

// The bodies of the query exports, traced under the export names:
// HkbhIsInstalled, HkbhIsInstalledByAppUserModeID, HkbhGetAppDisplayNameByPFN.
// The refresh pass checks the catalogued packages through the first.
HRESULT HkbhQueryIsInstalled(const wchar_t* familyName, BOOL* isInstalled);
HRESULT HkbhQueryIsInstalledByAppUserModeID(const wchar_t* appUserModelId, BOOL* isInstalled);
HRESULT HkbhQueryGetAppDisplayNameByPFN(const wchar_t* familyName, wchar_t** displayName);
