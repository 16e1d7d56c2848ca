// A platform package (Windows.ApplicationModel.Package) as the catalogue and
// the queries read it: its identity, its install folder, and the trace of a
// platform error.
#pragma once

#include <windows.h>

#include <string>

#include "app_name_list.h"
#include "hkb/com.h"
#include "hkb/winrt.h"
#include "winrt_api.h"

// Traces a failed platform call as "<operation> OUT(<message>)" and gives
// E_FAIL, the result every caller turns a platform error into.
HRESULT HkbhPlatformError(const wchar_t* operation, HRESULT error);

// The package's family name.
HRESULT HkbhGetPackageFamilyName(hkbrt::IPackage* package, std::wstring& family);
// Family name, full name, name and version, and the install folder on demand.
HRESULT HkbhGetPackageIdentity(hkbrt::IPackage* package, HkbhPackageIdentity& identity);
// The Path of the package's installed location.
HRESULT HkbhGetPackageInstalledPath(hkbrt::IPackage* package, std::wstring& path);
