// The library's settings: REG_DWORD values under HKEY_LOCAL_MACHINE
// "Software\ZEV\ZEVHKB\HkbHelper", read each time they are needed and never
// written. A value counts only when it exists, is a REG_DWORD and fits 4
// bytes; otherwise its default applies.
//
// Also the current user's browser setting "ApplicationTileImmersiveActivation",
// which the browser search changes for the time of one search.
#pragma once

#include <windows.h>

inline constexpr wchar_t kHkbhSettingsKey[] = L"Software\\ZEV\\ZEVHKB\\HkbHelper";
inline constexpr wchar_t kHkbhBrowserKey[] = L"Software\\Microsoft\\Internet Explorer\\Main";
inline constexpr wchar_t kHkbhTileValue[] = L"ApplicationTileImmersiveActivation";

class CHkbhReg {
 public:
  static BOOL GetDWORDRegVal(const wchar_t* name, DWORD* value);
  // "DebugLog": non-zero switches the log on (default off).
  static BOOL IsDebugLogOn();
  // "RefreshInterval": minutes between catalogue refreshes (default 720).
  static DWORD GetRefreshInterval();
  // "ClearClipboardWaitTime": milliseconds (default 1000).
  static DWORD GetClearClipboardWaitTime();
  // "ManifestReaderSetting": 0 = packaging API, 1 (default, and any other
  // value) = XML parser.
  static DWORD GetManifestReaderSetting();

  // The browser setting under HKEY_CURRENT_USER: a Win32 error code, 0 when
  // read, 87 without an out argument, 222 when the value is no REG_DWORD, 2
  // when the key or the value is missing.
  static LONG GetCurrentTileImmersiveActivation(DWORD* pdwTileImmersiveActivation);
  // TRUE when written (the key must exist).
  static BOOL SetCurrentTileImmersiveActivation(DWORD value);
  // TRUE when a value was deleted.
  static BOOL DeleteTileImmersiveActivation();
};
