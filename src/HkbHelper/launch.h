// The bodies of the three launch exports, traced under the export names:
// HkbhLaunchBySearch (the app's name typed into the system search),
// HkbhLaunchIEBySearch (the same for the browser, with its tile setting
// changed for the search) and HkbhLaunchByManager (the application activation
// manager). They run on the caller's thread; the caller issues one launch at a
// time.
#pragma once

#include <windows.h>

class CHkbhPackageManager;

// The search needs the library initialized (the app-visibility service on the
// initializing thread); `packages` supplies the exclusion list.
HRESULT HkbhRunLaunchBySearch(CHkbhPackageManager& packages, const wchar_t* name, UINT mode,
                              BOOL useExclusion);
HRESULT HkbhRunLaunchIEBySearch(CHkbhPackageManager& packages, UINT tileMode, UINT searchMode,
                                BOOL useExclusion);
// Works without initialization: COM is initialized around the call.
HRESULT HkbhRunLaunchByManager(const wchar_t* appUserModelId, const wchar_t* arguments);
