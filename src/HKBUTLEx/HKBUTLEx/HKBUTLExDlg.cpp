#include "HKBUTLExDlg.h"

#include <shellapi.h>
#include <shobjidl.h>

#include <cwchar>

#include "MyMessageBox.h"
#include "hkb/com.h"
#include "hkb/registry.h"
#include "hkb/unique.h"
#include "launcher_logic.h"
#include "resource.h"

namespace {

constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\ZEV\\ZEVPC Settings";
constexpr wchar_t kMachineInfoKeyWithSlash[] = L"SOFTWARE\\ZEV\\MachineInfo\\";
constexpr wchar_t kMachineInfoKey[] = L"SOFTWARE\\ZEV\\MachineInfo";
constexpr wchar_t kUserButtonKey[] = L"Software\\ZEV\\ZEVHKB\\Setting\\";
constexpr wchar_t kDefaultButtonKey[] = L"SOFTWARE\\ZEV\\ZEVHKB\\Default\\Setting\\";

std::wstring ReadSettingsAppId() {
  return CHKBUTLExDlg::ReadRegistryString(HKEY_LOCAL_MACHINE, kSettingsKey, L"TESAppUserModelId", L"");
}

}  // namespace

CHKBUTLExDlg::CHKBUTLExDlg(CLauncherChecks& checks) : CDialogEx(IDD_HKBUTLEX_DIALOG), m_Checks(checks) {
  const std::wstring explicitAppId = ReadSettingsAppId();
  const std::wstring productName =
      explicitAppId.empty()
          ? ReadRegistryString(HKEY_LOCAL_MACHINE, kMachineInfoKeyWithSlash, L"ProductName", L"")
          : std::wstring();
  m_strTargetAppId = hkbutlex::ChooseTargetAppId(explicitAppId, productName);
}

HRESULT CHKBUTLExDlg::OpenOthersPage() {
  return ActivateAppWithArguments(m_strTargetAppId, hkbutlex::kOthersPageArguments);
}

HRESULT CHKBUTLExDlg::OpenPowerPage() {
  return ActivateAppWithArguments(m_strTargetAppId, hkbutlex::kPowerPageArguments);
}

HRESULT CHKBUTLExDlg::OpenSettingsHome() { return ActivateAppWithArguments(m_strTargetAppId, nullptr); }

HRESULT CHKBUTLExDlg::OpenSoloPage() {
  if (IsCompanionProduct()) {
    OpenUri(hkbutlex::kCompanionUri);
    return S_OK;
  }
  return ActivateAppWithArguments(m_strTargetAppId, hkbutlex::kSoloPageArguments);
}

HRESULT CHKBUTLExDlg::LaunchButtonApp(const std::wstring& appId, const std::wstring& arguments,
                                      const std::wstring& buttonKey) {
  if (m_Checks.IsAppInstalled(appId)) {
    LaunchAppById(appId.c_str(), arguments.c_str());
    return S_OK;
  }
  std::wstring name =
      ReadRegistryString(HKEY_CURRENT_USER, (kUserButtonKey + buttonKey).c_str(), L"DispTitle", L"");
  if (name.empty())
    name = ReadRegistryString(HKEY_LOCAL_MACHINE, (kDefaultButtonKey + buttonKey).c_str(), L"DispTitle", L"");
  ShowLaunchFailureBox(name);
  return E_FAIL;
}

HRESULT CHKBUTLExDlg::LaunchAppById(const wchar_t* appId, const wchar_t* arguments) {
  if (!appId || appId[0] == L'\0') return E_INVALIDARG;
  return ActivateAppWithArguments(appId, arguments);
}

HRESULT CHKBUTLExDlg::ActivateAppWithArguments(const std::wstring& appId, const wchar_t* arguments) {
  const hkb::ComInit com;
  hkb::ComPtr<IApplicationActivationManager> manager;
  const HRESULT created =
      ::CoCreateInstance(CLSID_ApplicationActivationManager, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IApplicationActivationManager, manager.put_void());
  if (FAILED(created)) return created;
  if (!manager) return E_NOINTERFACE;
  DWORD processId = 0;
  return manager->ActivateApplication(appId.c_str(), arguments, AO_NONE, &processId);
}

BOOL CHKBUTLExDlg::OpenUri(const wchar_t* uri) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = nullptr;
  info.lpVerb = L"open";
  info.lpFile = uri;
  info.lpParameters = nullptr;
  info.lpDirectory = nullptr;
  info.nShow = SW_SHOW;
  const BOOL started = ::ShellExecuteExW(&info);
  const hkb::UniqueHandle process(info.hProcess);
  if (process) ::WaitForSingleObject(process.get(), 50);
  return started;
}

BOOL CHKBUTLExDlg::IsCompanionProduct() {
  const std::wstring productName =
      ReadRegistryString(HKEY_LOCAL_MACHINE, kMachineInfoKey, L"ProductName", L"");
  return hkbutlex::IsCompanionProduct(productName, ReadSettingsAppId());
}

std::wstring CHKBUTLExDlg::ReadRegistryString(HKEY root, const wchar_t* key, const wchar_t* valueName,
                                              const std::wstring& defaultValue) {
  constexpr std::size_t kChars = 2048;  // 4096 bytes
  return hkb::ReadRegText<kChars>(root, key, valueName).value_or(defaultValue);
}
