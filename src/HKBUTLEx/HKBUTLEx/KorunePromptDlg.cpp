#include "KorunePromptDlg.h"

#include "hkb/registry.h"
#include "hkb/unique.h"
#include "resource.h"

namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\ZEV\\ZEVHKB\\ButtonKeys\\Settings";
constexpr wchar_t kShowPromptValue[] = L"ShowKorunePrompt";
constexpr UINT_PTR kForegroundTimer = 1000;
constexpr UINT kForegroundPeriodMs = 100;

}  // namespace

int ReadShowPromptSetting() {
  // Any type; only the first four bytes count, and a larger value is unreadable.
  const hkb::RegDword read = hkb::ReadRegDword(HKEY_CURRENT_USER, kSettingsKey, kShowPromptValue);
  if (read.status != ERROR_SUCCESS) return 1;
  return read.value == 0 ? 0 : 1;
}

int WriteShowPromptSetting(int show) {
  hkb::UniqueKey key;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    return 0;
  const DWORD value = show ? 1 : 0;
  if (::RegSetValueExW(key.get(), kShowPromptValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof value) != ERROR_SUCCESS)
    return 0;
  ::RegFlushKey(key.get());
  return 1;
}

CKorunePromptDlg::CKorunePromptDlg(CLauncherChecks& checks) noexcept
    : CDialogEx(IDD_KORUNEPROMPT), m_Checks(checks) {}

void CKorunePromptDlg::DoDataExchange(CDataExchange* pDX) {
  CDialogEx::DoDataExchange(pDX);
  DDX_Check(pDX, IDC_DONTSHOWAGAIN, m_bDontShowAgain);
}

BOOL CKorunePromptDlg::OnInitDialog() {
  CDialogEx::OnInitDialog();
  if (m_Checks.IsDisplayMode2()) {
    // The modal loop would show the dialog activated, whatever its extended
    // style says; shown here already, without activation, it stays back.
    ::ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
  } else {
    RemoveNoActivate();
  }
  ::SetTimer(m_hWnd, kForegroundTimer, kForegroundPeriodMs, nullptr);
  return TRUE;
}

void CKorunePromptDlg::StoreChoice() {
  UpdateData(TRUE);
  WriteShowPromptSetting(m_bDontShowAgain == 0 ? 1 : 0);
}

void CKorunePromptDlg::OnOK() {
  StoreChoice();
  EndDialog(IDOK);
}

BOOL CKorunePromptDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (LOWORD(wParam) == IDC_BUTTON_NO && HIWORD(wParam) == BN_CLICKED) {
    StoreChoice();
    EndDialog(IDCANCEL);
    return TRUE;
  }
  return CDialogEx::OnCommand(wParam, lParam);
}

BOOL CKorunePromptDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
  if (message == WM_TIMER && wParam == kForegroundTimer) {
    // While the display mode is 2 the prompt stays in the background; at the
    // first tick after that it becomes a normal window and comes forward once.
    if (!m_Checks.IsDisplayMode2()) {
      RemoveNoActivate();
      ::SetForegroundWindow(m_hWnd);
      ::KillTimer(m_hWnd, kForegroundTimer);
    }
    return FALSE;  // then the default handling
  }
  return CDialogEx::OnWndMsg(message, wParam, lParam, pResult);
}

void CKorunePromptDlg::RemoveNoActivate() {
  const LONG exStyle = ::GetWindowLongW(m_hWnd, GWL_EXSTYLE);
  ::SetWindowLongW(m_hWnd, GWL_EXSTYLE, exStyle & ~WS_EX_NOACTIVATE);
}
