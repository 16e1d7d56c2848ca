// The library's settings: REG_DWORD values under HKEY_LOCAL_MACHINE
// "Software\ZEV\ZEVHKB\HkbHelper", read each time they are needed and never
// written. A value counts only when it exists, is a REG_DWORD and fits 4
// bytes; otherwise its default applies.
//
// Also the current user's browser setting "ApplicationTileImmersiveActivation",
// which the browser search changes for the time of one search, and the note
// of how to put it back, kept under the same key path of the current user.
#pragma once

#include <windows.h>

inline constexpr wchar_t kHkbhSettingsKey[] = L"Software\\ZEV\\ZEVHKB\\HkbHelper";
inline constexpr wchar_t kHkbhBrowserKey[] = L"Software\\Microsoft\\Internet Explorer\\Main";
inline constexpr wchar_t kHkbhTileValue[] = L"ApplicationTileImmersiveActivation";
inline constexpr wchar_t kHkbhTileRestoreValue[] = L"TileImmersiveActivationToRestore";

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

  // The browser search notes how to put the browser setting back before it
  // changes it, and forgets the note once it has put it back: a host that is
  // ended in between leaves the note, and the next HkbhInitialize of the same
  // user puts the setting back from it. The note lives under the library's
  // key of the current user (the setting is the user's own): the value
  // kHkbhTileRestoreValue, a REG_DWORD with the value to write back, or
  // REG_NONE when the setting did not exist and is to be deleted.
  static BOOL RecordTileImmersiveActivation(bool existed, DWORD value);
  static void ForgetTileImmersiveActivation();
  // Puts the browser setting back as a note left by an ended search says,
  // and forgets the note once that has succeeded.
  static void RestoreRecordedTileImmersiveActivation();
};
