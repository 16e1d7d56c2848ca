// The launcher's application object: start-up, the run-time binding of the
// helper and display-mode libraries, the command dispatch and the tear-down.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "hkb/app.h"
#include "hkb/unique.h"
#include "launcher_logic.h"
#include "launcher_shared.h"

class CHKBUTLExDlg;

class CHKBUTLExApp : public CWinAppEx, public CLauncherChecks {
 public:
  CHKBUTLExApp() noexcept;
  ~CHKBUTLExApp() override;

  // Does the whole run and answers FALSE: the program ends without a message loop.
  BOOL InitInstance() override;

  // The dialogs' checks, through the libraries bound at start-up.
  BOOL IsAppInstalled(const std::wstring& id) override;
  BOOL IsDisplayMode2() override;

  using PFN_DSPMODE_Initialize = int (*)();
  using PFN_DSPMODE_Finalize = int (*)();
  using PFN_DSPMODE_GetDisplayMode = int (*)(int*);
  using PFN_HkbhIsInstalled = HRESULT (*)(const wchar_t*, BOOL*);

 private:
  void RegisterLauncherWindowClass();
  void LoadDisplayModeLibrary();
  void LoadHelperLibrary();
  void RunPromptFlow();
  void Dispatch(const hkbutlex::Command& command);
  void RaiseRunningPrompt();
  void TearDown();

  PFN_DSPMODE_Initialize m_pfnDSPMODE_Initialize = nullptr;
  PFN_DSPMODE_Finalize m_pfnDSPMODE_Finalize = nullptr;
  PFN_DSPMODE_GetDisplayMode m_pfnDSPMODE_GetDisplayMode = nullptr;
  PFN_HkbhIsInstalled m_pfnHkbhIsInstalled = nullptr;
  PFN_HkbhIsInstalled m_pfnHkbhIsInstalledByAppUserModeID = nullptr;
  hkb::UniqueModule m_hDspMode;
  hkb::UniqueModule m_hHkbHelper;

  hkb::LocalPtr<LPWSTR> m_pArgv;
  std::unique_ptr<CHKBUTLExDlg> m_pTargetDlg;
};

extern CHKBUTLExApp theApp;
