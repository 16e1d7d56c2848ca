#include "hkbh_reg.h"

#include "hkb/registry.h"
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
  const HkbhTrace trace(kName);
  if (name == nullptr || *name == L'\0' || value == nullptr) return FALSE;
  const hkb::RegDword read = hkb::ReadRegDword(HKEY_LOCAL_MACHINE, kHkbhSettingsKey, name);
  if (!read.opened) {
    trace.Out();
    return FALSE;
  }
  if (read.status == ERROR_SUCCESS) *value = read.value;
  return trace.OutValue(read.is_dword() ? TRUE : FALSE);
}

BOOL CHkbhReg::IsDebugLogOn() {
  static constexpr wchar_t kName[] = L"CHkbhReg::IsDebugLogOn";
  const HkbhTrace trace(kName);
  DWORD v = 0;
  const BOOL on = (GetDWORDRegVal(L"DebugLog", &v) && v != 0) ? TRUE : FALSE;
  return trace.OutValue(on);
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
  const HkbhTrace trace(kName);
  DWORD v = 0;
  if (!GetDWORDRegVal(L"ManifestReaderSetting", &v) || v > 1) v = kDefaultManifestReader;
  trace.OutValue(static_cast<int>(v));
  return v;
}

LONG CHkbhReg::GetCurrentTileImmersiveActivation(DWORD* pdwTileImmersiveActivation) {
  static constexpr wchar_t kName[] = L"CHkbhReg::GetCurrentTileImmersiveActivation";
  const HkbhTrace trace(kName);
  if (pdwTileImmersiveActivation == nullptr) {
    trace.OutValue(static_cast<int>(ERROR_INVALID_PARAMETER));
    return ERROR_INVALID_PARAMETER;
  }
  const hkb::RegDword read = hkb::ReadRegDword(HKEY_CURRENT_USER, kHkbhBrowserKey, kHkbhTileValue);
  LONG status = read.status;
  if (status == ERROR_SUCCESS) {
    *pdwTileImmersiveActivation = read.value;
    if (read.type != REG_DWORD) status = ERROR_INVALID_DATATYPE;
  }
  WriteLog("%S OUT(*pdwTileImmersiveActivation = %d)\r\n", kName,
           static_cast<int>(*pdwTileImmersiveActivation));
  return status;
}

BOOL CHkbhReg::SetCurrentTileImmersiveActivation(DWORD value) {
  static constexpr wchar_t kName[] = L"CHkbhReg::SetCurrentTileImmersiveActivation";
  WriteLog("%S(%d) IN\r\n", kName, static_cast<int>(value));
  const HkbhTrace trace(kName, HkbhTrace::InWritten{});
  hkb::UniqueKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kHkbhBrowserKey, 0, KEY_WRITE, key.put()) != ERROR_SUCCESS) {
    trace.OutValue(0);
    return FALSE;
  }
  const LONG status = ::RegSetValueExW(key.get(), kHkbhTileValue, 0, REG_DWORD,
                                       reinterpret_cast<const BYTE*>(&value), sizeof(DWORD));
  key.reset();
  trace.Out();
  return status == ERROR_SUCCESS ? TRUE : FALSE;
}

BOOL CHkbhReg::DeleteTileImmersiveActivation() {
  static constexpr wchar_t kName[] = L"CHkbhReg::DeleteTileImmersiveActivation";
  const HkbhTrace trace(kName);
  hkb::UniqueKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kHkbhBrowserKey, 0, KEY_WRITE, key.put()) != ERROR_SUCCESS) {
    trace.OutValue(0);
    return FALSE;
  }
  const LONG status = ::RegDeleteValueW(key.get(), kHkbhTileValue);
  key.reset();
  trace.Out();
  return status == ERROR_SUCCESS ? TRUE : FALSE;
}

BOOL CHkbhReg::RecordTileImmersiveActivation(bool existed, DWORD value) {
  static constexpr wchar_t kName[] = L"CHkbhReg::RecordTileImmersiveActivation";
  WriteLog("%S(%d, %d) IN\r\n", kName, existed ? 1 : 0, static_cast<int>(value));
  const HkbhTrace trace(kName, HkbhTrace::InWritten{});
  hkb::UniqueKey key;
  LONG status = ::RegCreateKeyExW(HKEY_CURRENT_USER, kHkbhSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, key.put(), nullptr);
  if (status == ERROR_SUCCESS) {
    status = existed ? ::RegSetValueExW(key.get(), kHkbhTileRestoreValue, 0, REG_DWORD,
                                        reinterpret_cast<const BYTE*>(&value), sizeof(DWORD))
                     : ::RegSetValueExW(key.get(), kHkbhTileRestoreValue, 0, REG_NONE, nullptr, 0);
  }
  trace.OutValue(static_cast<int>(status));
  return status == ERROR_SUCCESS ? TRUE : FALSE;
}

void CHkbhReg::ForgetTileImmersiveActivation() {
  static constexpr wchar_t kName[] = L"CHkbhReg::ForgetTileImmersiveActivation";
  const HkbhTrace trace(kName);
  hkb::UniqueKey key;
  LONG status = ::RegOpenKeyExW(HKEY_CURRENT_USER, kHkbhSettingsKey, 0, KEY_SET_VALUE, key.put());
  if (status == ERROR_SUCCESS) status = ::RegDeleteValueW(key.get(), kHkbhTileRestoreValue);
  trace.OutValue(static_cast<int>(status));
}

void CHkbhReg::RestoreRecordedTileImmersiveActivation() {
  static constexpr wchar_t kName[] = L"CHkbhReg::RestoreRecordedTileImmersiveActivation";
  const hkb::RegDword note = hkb::ReadRegDword(HKEY_CURRENT_USER, kHkbhSettingsKey, kHkbhTileRestoreValue);
  if (note.status != ERROR_SUCCESS) return;  // no note: nothing to put back
  WriteLog("%S IN\r\n", kName);
  bool restored = false;
  if (note.is_dword()) {
    restored = SetCurrentTileImmersiveActivation(note.value) != FALSE;
  } else if (note.type == REG_NONE) {
    DWORD current = 0;
    restored = DeleteTileImmersiveActivation() != FALSE ||
               GetCurrentTileImmersiveActivation(&current) == ERROR_FILE_NOT_FOUND;
  } else {
    restored = true;  // a note of no known form is of no use: it is dropped
  }
  if (restored) ForgetTileImmersiveActivation();
  WriteLog("%S OUT(%d)\r\n", kName, restored ? 1 : 0);
}
