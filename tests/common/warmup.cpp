// Started once per test run, before any test, with its output discarded: the
// Wine session's own background processes (services, the desktop window's
// process) start here and inherit this program's output, not a test's.
#include <windows.h>
#include <objbase.h>

int wmain() {
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HWND wnd =
      ::CreateWindowExW(0, L"STATIC", L"warmup", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ::ShowWindow(wnd, SW_SHOWNOACTIVATE);
  MSG m;
  while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&m);
  ::DestroyWindow(wnd);
  ::CoUninitialize();
  return 0;
}
