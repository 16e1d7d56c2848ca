#include "hkb/framework.h"
#include "hkb/guard.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {
CWinApp* s_pApp = nullptr;
}

CWinApp::CWinApp() noexcept : m_hInstance(AfxGetInstanceHandle()) { s_pApp = this; }

CWinApp::~CWinApp() {
  if (s_pApp == this) s_pApp = nullptr;
}

CWinApp* AfxGetApp() noexcept { return s_pApp; }

HINSTANCE AfxGetInstanceHandle() noexcept { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

namespace hkb::framework {

BOOL ProcessAttach(HINSTANCE instance) {
  if (!s_pApp) return TRUE;
  s_pApp->m_hInstance = instance;
  return hkb::Guarded(FALSE, [] { return s_pApp->InitInstance(); });
}

void ProcessDetach() {
  if (s_pApp) {
    hkb::Guarded([] { s_pApp->ExitInstance(); });
  }
  UnregisterWndClasses();
}

}  // namespace hkb::framework
