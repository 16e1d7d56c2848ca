#include "hkbh_reg.h"

#include "hkb/unique.h"
#include "hkbh_log.h"

namespace {

constexpr DWORD kDefaultRefreshMinutes = 720;
constexpr DWORD kDefaultClearClipboardMs = 1000;
constexpr DWORD kDefaultManifestReader = 1;

// Reads one setting through GetDWORDRegVal, tracing the getter around it.
DWORD ReadSetting(const wchar_t* getter, const wchar_t* value, DWORD fallback) {
  WriteLog("%S IN\r\n", getter);
  DWORD v = 0;
  if (!CHkbhReg::GetDWORDRegVal(value, &v)) v = fallback;
  WriteLog("%S OUT(%d)\r\n", getter, static_cast<int>(v));
  return v;
}

}  // namespace

BOOL CHkbhReg::GetDWORDRegVal(const wchar_t* name, DWORD* value) {
  static constexpr wchar_t kName[] = L"CHkbhReg::GetDWORDRegVal";
  WriteLog("%S IN\r\n", kName);
  if (name == nullptr || *name == L'\0' || value == nullptr) return FALSE;
  hkb::UniqueKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHkbhSettingsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    WriteLog("%S OUT\r\n", kName);
    return FALSE;
  }
  DWORD type = REG_NONE;
  DWORD size = sizeof(DWORD);
  const LSTATUS status =
      ::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  key.reset();
  const BOOL ok = (status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(DWORD)) ? TRUE : FALSE;
  WriteLog("%S OUT(%d)\r\n", kName, ok);
  return ok;
}

BOOL CHkbhReg::IsDebugLogOn() {
  static constexpr wchar_t kName[] = L"CHkbhReg::IsDebugLogOn";
  WriteLog("%S IN\r\n", kName);
  DWORD v = 0;
  const BOOL on = (GetDWORDRegVal(L"DebugLog", &v) && v != 0) ? TRUE : FALSE;
  WriteLog("%S OUT(%d)\r\n", kName, on);
  return on;
}

DWORD CHkbhReg::GetRefreshInterval() {
  return ReadSetting(L"CHkbhReg::GetRefreshInterval", L"RefreshInterval", kDefaultRefreshMinutes);
}

DWORD CHkbhReg::GetClearClipboardWaitTime() {
  return ReadSetting(L"CHkbhReg::GetClearClipboardWaitTime", L"ClearClipboardWaitTime",
                     kDefaultClearClipboardMs);
}

DWORD CHkbhReg::GetManifestReaderSetting() {
  static constexpr wchar_t kName[] = L"CHkbhReg::GetManifestReaderSetting";
  WriteLog("%S IN\r\n", kName);
  DWORD v = 0;
  if (!GetDWORDRegVal(L"ManifestReaderSetting", &v) || v > 1) v = kDefaultManifestReader;
  WriteLog("%S OUT(%d)\r\n", kName, static_cast<int>(v));
  return v;
}

LONG CHkbhReg::GetCurrentTileImmersiveActivation(DWORD* pdwTileImmersiveActivation) {
  static constexpr wchar_t kName[] = L"CHkbhReg::GetCurrentTileImmersiveActivation";
  WriteLog("%S IN\r\n", kName);
  if (pdwTileImmersiveActivation == nullptr) {
    WriteLog("%S OUT(%d)\r\n", kName, static_cast<int>(ERROR_INVALID_PARAMETER));
    return ERROR_INVALID_PARAMETER;
  }
  hkb::UniqueKey key;
  LONG status = ::RegOpenKeyExW(HKEY_CURRENT_USER, kHkbhBrowserKey, 0, KEY_READ, key.put());
  if (status == ERROR_SUCCESS) {
    DWORD type = REG_NONE;
    DWORD size = sizeof(DWORD);
    status = ::RegQueryValueExW(key.get(), kHkbhTileValue, nullptr, &type,
                                reinterpret_cast<BYTE*>(pdwTileImmersiveActivation), &size);
    key.reset();
    if (status == ERROR_SUCCESS && type != REG_DWORD) status = ERROR_INVALID_DATATYPE;
  }
  WriteLog("%S OUT(*pdwTileImmersiveActivation = %d)\r\n", kName,
           static_cast<int>(*pdwTileImmersiveActivation));
  return status;
}

BOOL CHkbhReg::SetCurrentTileImmersiveActivation(DWORD value) {
  static constexpr wchar_t kName[] = L"CHkbhReg::SetCurrentTileImmersiveActivation";
  WriteLog("%S(%d) IN\r\n", kName, static_cast<int>(value));
  hkb::UniqueKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kHkbhBrowserKey, 0, KEY_WRITE, key.put()) != ERROR_SUCCESS) {
    WriteLog("%S OUT(%d)\r\n", kName, 0);
    return FALSE;
  }
  const LONG status = ::RegSetValueExW(key.get(), kHkbhTileValue, 0, REG_DWORD,
                                       reinterpret_cast<const BYTE*>(&value), sizeof(DWORD));
  key.reset();
  WriteLog("%S OUT\r\n", kName);
  return status == ERROR_SUCCESS ? TRUE : FALSE;
}

BOOL CHkbhReg::DeleteTileImmersiveActivation() {
  static constexpr wchar_t kName[] = L"CHkbhReg::DeleteTileImmersiveActivation";
  WriteLog("%S IN\r\n", kName);
  hkb::UniqueKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kHkbhBrowserKey, 0, KEY_WRITE, key.put()) != ERROR_SUCCESS) {
    WriteLog("%S OUT(%d)\r\n", kName, 0);
    return FALSE;
  }
  const LONG status = ::RegDeleteValueW(key.get(), kHkbhTileValue);
  key.reset();
  WriteLog("%S OUT\r\n", kName);
  return status == ERROR_SUCCESS ? TRUE : FALSE;
}

BOOL CHkbhReg::RecordTileImmersiveActivation(bool existed, DWORD value) {
  static constexpr wchar_t kName[] = L"CHkbhReg::RecordTileImmersiveActivation";
  WriteLog("%S(%d, %d) IN\r\n", kName, existed ? 1 : 0, static_cast<int>(value));
  hkb::UniqueKey key;
  LONG status = ::RegCreateKeyExW(HKEY_CURRENT_USER, kHkbhSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, key.put(), nullptr);
  if (status == ERROR_SUCCESS) {
    status = existed ? ::RegSetValueExW(key.get(), kHkbhTileRestoreValue, 0, REG_DWORD,
                                        reinterpret_cast<const BYTE*>(&value), sizeof(DWORD))
                     : ::RegSetValueExW(key.get(), kHkbhTileRestoreValue, 0, REG_NONE, nullptr, 0);
  }
  WriteLog("%S OUT(%d)\r\n", kName, static_cast<int>(status));
  return status == ERROR_SUCCESS ? TRUE : FALSE;
}

void CHkbhReg::ForgetTileImmersiveActivation() {
  static constexpr wchar_t kName[] = L"CHkbhReg::ForgetTileImmersiveActivation";
  WriteLog("%S IN\r\n", kName);
  hkb::UniqueKey key;
  LONG status = ::RegOpenKeyExW(HKEY_CURRENT_USER, kHkbhSettingsKey, 0, KEY_SET_VALUE, key.put());
  if (status == ERROR_SUCCESS) status = ::RegDeleteValueW(key.get(), kHkbhTileRestoreValue);
  WriteLog("%S OUT(%d)\r\n", kName, static_cast<int>(status));
}

void CHkbhReg::RestoreRecordedTileImmersiveActivation() {
  static constexpr wchar_t kName[] = L"CHkbhReg::RestoreRecordedTileImmersiveActivation";
  hkb::UniqueKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kHkbhSettingsKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
    return;
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD size = sizeof value;
  const LONG status = ::RegQueryValueExW(key.get(), kHkbhTileRestoreValue, nullptr, &type,
                                         reinterpret_cast<BYTE*>(&value), &size);
  key.reset();
  if (status != ERROR_SUCCESS) return;  // no note: nothing to put back
  WriteLog("%S IN\r\n", kName);
  bool restored = false;
  if (type == REG_DWORD && size == sizeof value) {
    restored = SetCurrentTileImmersiveActivation(value) != FALSE;
  } else if (type == REG_NONE) {
    DWORD current = 0;
    restored = DeleteTileImmersiveActivation() != FALSE ||
               GetCurrentTileImmersiveActivation(&current) == ERROR_FILE_NOT_FOUND;
  } else {
    restored = true;  // a note of no known form is of no use: it is dropped
  }
  if (restored) ForgetTileImmersiveActivation();
  WriteLog("%S OUT(%d)\r\n", kName, restored ? 1 : 0);
}
