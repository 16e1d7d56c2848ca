// Registration of the server: the registry scripts embedded as resources
// (the table lives in KeyDbWrapper.rgs and keyDbObj.rgs) and the type library.
#pragma once

#include <windows.h>

#include <string>

namespace keydb {

// The AppID of the server, replaced for %APPID% in the scripts.
inline constexpr wchar_t kAppId[] = L"{259F18F8-B49B-45d2-88D9-E042D98AA4D4}";

// Full path of this program; empty when it cannot be had in full.
std::wstring ModulePath();

// Writes (or, with do_register false, removes) the entries of registry
// script `id`, with %MODULE% standing for the program's path (quoted when it
// contains a blank, so the command line COM builds from it cannot be read
// as a shorter path) and %APPID% for the AppID.
HRESULT UpdateRegistryFromResource(UINT id, bool do_register) noexcept;

// The type library embedded in this program, registered with it as its path.
HRESULT RegisterTypeLibrary() noexcept;
HRESULT UnregisterTypeLibrary() noexcept;

}  // namespace keydb
