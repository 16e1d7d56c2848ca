// The library's own result codes, beside the system's HRESULTs.
#pragma once

#include <windows.h>

// The package is not installed for the current user.
inline constexpr HRESULT kHkbhNotInstalled = static_cast<HRESULT>(0xA0000001);
// The manifest declares more than one application.
inline constexpr HRESULT kHkbhManyApplications = static_cast<HRESULT>(0xA0000002);
