#include "hkb/app.h"

#include <optional>

#include "hkb/guard.h"

int CWinAppEx::Run() {
  MSG msg;
  for (;;) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got == -1) return -1;
    if (m_pMainWnd && m_pMainWnd->GetSafeHwnd() && ::IsDialogMessageW(m_pMainWnd->GetSafeHwnd(), &msg))
      continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

CWinAppEx* AfxGetProgramApp() noexcept { return dynamic_cast<CWinAppEx*>(AfxGetApp()); }

CWnd* AfxGetMainWnd() noexcept {
  CWinAppEx* app = AfxGetProgramApp();
  return app ? app->m_pMainWnd : nullptr;
}

namespace hkb::framework {

int RunProgram(HINSTANCE instance, int nCmdShow) {
  CWinAppEx* app = AfxGetProgramApp();
  if (!app) return -1;
  app->m_hInstance = instance;
  app->m_nCmdShow = nCmdShow;
  int code = hkb::Guarded(-1, [&] { return app->InitInstance() ? app->Run() : 0; });
  const std::optional<int> exitCode =
      hkb::Guarded(std::optional<int>(), [&] { return std::optional<int>(app->ExitInstance()); });
  if (!exitCode) {
    code = -1;
  } else if (code == 0) {
    code = *exitCode;
  }
  app->m_pMainWnd = nullptr;
  return code;
}

}  // namespace hkb::framework
