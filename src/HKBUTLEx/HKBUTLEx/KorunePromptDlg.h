// The "+/-" button prompt: asks whether to open the settings app to change
// what the buttons do, and stores the "do not show again" choice per user.
#pragma once

#include <windows.h>

#include "hkb/dialog.h"
#include "launcher_shared.h"

// 0 only when the stored setting exists and reads 0; else 1.
int ReadShowPromptSetting();
// Stores 1 when `show` is non-zero, else 0; 1 on success.
int WriteShowPromptSetting(int show);

class CKorunePromptDlg : public CDialogEx {
 public:
  // `checks` tells the display mode the prompt is shown in.
  explicit CKorunePromptDlg(CLauncherChecks& checks) noexcept;

  // The check box "do not show again" (0 clear).
  BOOL m_bDontShowAgain = 0;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

 private:
  CLauncherChecks& m_Checks;

  // Stores the choice of the check box; the setting changes with either button.
  void StoreChoice();
  void RemoveNoActivate();
};
