// The launch-target object: which settings app is the target on this machine,
// and the launch operations of the switches. Its window is never created.
#pragma once

#include <windows.h>

#include <string>

#include "hkb/dialog.h"
#include "launcher_shared.h"

class CHKBUTLExDlg : public CDialogEx {
 public:
  // Chooses the target app from the registry; `checks` tells whether an app
  // is installed.
  explicit CHKBUTLExDlg(CLauncherChecks& checks);

  HRESULT OpenOthersPage();
  HRESULT OpenPowerPage();
  // The settings app without an argument string.
  HRESULT OpenSettingsHome();
  // The companion app through its URI on companion products, else the Solo page.
  HRESULT OpenSoloPage();
  // "/LAUNCH": starts the app when it is installed, else shows the failure box
  // with the button's display name; E_FAIL then.
  HRESULT LaunchButtonApp(const std::wstring& appId, const std::wstring& arguments,
                          const std::wstring& buttonKey);

  // A string value (any type) up to its first zero, at most 2048 characters;
  // `defaultValue` when the key or value cannot be read.
  static std::wstring ReadRegistryString(HKEY root, const wchar_t* key, const wchar_t* valueName,
                                         const std::wstring& defaultValue);

  // The AppUserModelID of the target settings app.
  std::wstring m_strTargetAppId;

 private:
  CLauncherChecks& m_Checks;

  HRESULT ActivateAppWithArguments(const std::wstring& appId, const wchar_t* arguments);
  HRESULT LaunchAppById(const wchar_t* appId, const wchar_t* arguments);
  BOOL OpenUri(const wchar_t* uri);
  BOOL IsCompanionProduct();
};
