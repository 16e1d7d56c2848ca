#include "HKBUTLEx.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <vector>

#include "HKBUTLExDlg.h"
#include "KorunePromptDlg.h"
#include "hkb/com.h"
#include "resource.h"

CHKBUTLExApp theApp;

namespace {

// Held while this process shows the prompt; only the prompt flow creates it.
hkb::UniqueHandle s_hMutex;

constexpr wchar_t kMutexName[] = L"G_MUTEX_HKBUTLEX";
constexpr wchar_t kDspModeLibrary[] = L"ZEVHKB\\DSPMODE.dll";
constexpr wchar_t kHelperLibrary[] = L"ZEVHKB\\HkbHelper.dll";

// A module of the product folder under Program Files, or none.
hkb::UniqueModule LoadProductLibrary(const wchar_t* relative) {
  wchar_t folder[MAX_PATH] = {};
  ::SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE);
  if (folder[0] == L'\0') return {};
  std::wstring path(folder);
  path += L'\\';
  path += relative;
  return hkb::UniqueModule(::LoadLibraryW(path.c_str()));
}

template <class Fn>
Fn Bind(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// The single-instance guard of the prompt: a mutex every user may open. Only
// its existence counts; it is never waited on.
BOOL AcquireLauncherMutex() {
  SECURITY_DESCRIPTOR sd;
  if (!::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION)) return FALSE;
  if (!::SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE)) return FALSE;
  SECURITY_ATTRIBUTES sa = {};
  sa.nLength = sizeof sa;
  sa.lpSecurityDescriptor = &sd;
  sa.bInheritHandle = FALSE;
  hkb::UniqueHandle mutex(::CreateMutexW(&sa, FALSE, kMutexName));
  if (!mutex || ::GetLastError() == ERROR_ALREADY_EXISTS) return FALSE;
  s_hMutex = std::move(mutex);
  return TRUE;
}

}  // namespace

CHKBUTLExApp::CHKBUTLExApp() noexcept = default;

CHKBUTLExApp::~CHKBUTLExApp() { TearDown(); }

BOOL CHKBUTLExApp::InitInstance() {
  INITCOMMONCONTROLSEX icc = {};
  icc.dwSize = sizeof icc;
  icc.dwICC = ICC_WIN95_CLASSES;
  ::InitCommonControlsEx(&icc);

  RegisterLauncherWindowClass();
  m_pTargetDlg = std::make_unique<CHKBUTLExDlg>(*this);
  LoadDisplayModeLibrary();
  LoadHelperLibrary();

  int argc = 0;
  m_pArgv.reset(::CommandLineToArgvW(::GetCommandLineW(), &argc));
  std::vector<std::wstring> elements;
  if (m_pArgv) elements.assign(m_pArgv.get(), m_pArgv.get() + argc);
  const hkbutlex::Command command = hkbutlex::ParseCommandLine(elements);
  if (command.action == hkbutlex::Action::Prompt)
    RunPromptFlow();
  else
    Dispatch(command);

  TearDown();
  return FALSE;
}

void CHKBUTLExApp::RegisterLauncherWindowClass() {
  // The dialog class's attributes under the launcher's own name; the launcher's
  // dialog templates name it.
  WNDCLASSW wc = {};
  if (!::GetClassInfoW(m_hInstance, L"#32770", &wc)) return;
  wc.hInstance = m_hInstance;
  wc.lpszClassName = kLauncherWindowClass;
  ::RegisterClassW(&wc);
}

void CHKBUTLExApp::LoadDisplayModeLibrary() {
  m_hDspMode = LoadProductLibrary(kDspModeLibrary);
  if (!m_hDspMode) return;
  m_pfnDSPMODE_Initialize = Bind<PFN_DSPMODE_Initialize>(m_hDspMode.get(), "DSPMODE_Initialize");
  m_pfnDSPMODE_Finalize = Bind<PFN_DSPMODE_Finalize>(m_hDspMode.get(), "DSPMODE_Finalize");
  m_pfnDSPMODE_GetDisplayMode = Bind<PFN_DSPMODE_GetDisplayMode>(m_hDspMode.get(), "DSPMODE_GetDisplayMode");
}

void CHKBUTLExApp::LoadHelperLibrary() {
  m_hHkbHelper = LoadProductLibrary(kHelperLibrary);
  if (!m_hHkbHelper) return;
  m_pfnHkbhIsInstalled = Bind<PFN_HkbhIsInstalled>(m_hHkbHelper.get(), "HkbhIsInstalled");
  m_pfnHkbhIsInstalledByAppUserModeID =
      Bind<PFN_HkbhIsInstalled>(m_hHkbHelper.get(), "HkbhIsInstalledByAppUserModeID");
}

BOOL CHKBUTLExApp::IsAppInstalled(const std::wstring& id) {
  BOOL installed = 1;
  const hkb::ComInit com;
  const PFN_HkbhIsInstalled check =
      !id.empty() && id[0] == L'\x0001' ? m_pfnHkbhIsInstalled : m_pfnHkbhIsInstalledByAppUserModeID;
  if (check) check(id.c_str(), &installed);
  return installed;
}

BOOL CHKBUTLExApp::IsDisplayMode2() {
  if (!m_pfnDSPMODE_Initialize) return 0;
  if (m_pfnDSPMODE_Initialize() != 0) {
    ::OutputDebugStringW(L"-- * fail m_DSPMODE_Initialize() \n");
    return 0;
  }
  BOOL mode2 = 0;
  if (m_pfnDSPMODE_GetDisplayMode) {
    int mode = 0;
    mode2 = m_pfnDSPMODE_GetDisplayMode(&mode) == 0 && mode == 2;
  }
  if (m_pfnDSPMODE_Finalize) m_pfnDSPMODE_Finalize();
  return mode2;
}

void CHKBUTLExApp::RunPromptFlow() {
  CKorunePromptDlg prompt(*this);
  if (!ReadShowPromptSetting()) return;
  if (!IsAppInstalled(hkbutlex::FamilyName(m_pTargetDlg->m_strTargetAppId))) return;
  m_pMainWnd = &prompt;
  if (AcquireLauncherMutex()) {
    if (prompt.DoModal() == IDOK) m_pTargetDlg->OpenOthersPage();
    s_hMutex.reset();
  } else {
    RaiseRunningPrompt();
  }
  // The prompt object ends with this scope.
  m_pMainWnd = nullptr;
}

void CHKBUTLExApp::RaiseRunningPrompt() {
  m_pMainWnd = nullptr;
  const std::wstring title = LoadResourceString(IDS_PROMPT_TITLE);
  const HWND running = ::FindWindowW(kLauncherWindowClass, title.c_str());
  if (running && !IsDisplayMode2()) ::SetForegroundWindow(running);
}

void CHKBUTLExApp::Dispatch(const hkbutlex::Command& command) {
  using hkbutlex::Action;
  CHKBUTLExDlg& target = *m_pTargetDlg;
  if (hkbutlex::ChecksTargetInstalled(command.action) &&
      !IsAppInstalled(hkbutlex::FamilyName(target.m_strTargetAppId)))
    return;
  switch (command.action) {
    case Action::Power: target.OpenPowerPage(); break;
    case Action::Hub: target.OpenSettingsHome(); break;
    case Action::OthersSolo: target.OpenSoloPage(); break;
    case Action::Others: target.OpenOthersPage(); break;
    case Action::Launch: target.LaunchButtonApp(command.appId, command.arguments, command.buttonKey); break;
    case Action::Unknown: target.OpenSettingsHome(); break;
    case Action::Prompt: break;
  }
}

void CHKBUTLExApp::TearDown() {
  m_pArgv.reset();
  s_hMutex.reset();
  m_pfnDSPMODE_Initialize = nullptr;
  m_pfnDSPMODE_Finalize = nullptr;
  m_pfnDSPMODE_GetDisplayMode = nullptr;
  m_hDspMode.reset();
  m_pfnHkbhIsInstalled = nullptr;
  m_pfnHkbhIsInstalledByAppUserModeID = nullptr;
  m_hHkbHelper.reset();
  m_pTargetDlg.reset();
}
