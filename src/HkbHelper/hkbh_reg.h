// The library's settings: REG_DWORD values under HKEY_LOCAL_MACHINE
// "Software\ZEV\ZEVHKB\HkbHelper", read each time they are needed and never
// written. A value counts only when it exists, is a REG_DWORD and fits 4
// bytes; otherwise its default applies.
#pragma once

#include <windows.h>

inline constexpr wchar_t kHkbhSettingsKey[] = L"Software\\ZEV\\ZEVHKB\\HkbHelper";

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
};
