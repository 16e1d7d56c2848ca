// The baselines of the start-up benchmark: a Windows GUI program that does
// nothing and ends (it imports no more than the runtime needs). With "/window"
// it is the usual empty GUI program: it registers its window class, creates
// its (hidden) main window, closes it and leaves its message loop. With "/com"
// it only enters and leaves a single-threaded COM apartment, the least that
// any activation costs; ole32 is then bound at run time, so that the plain run
// does not load it.
#include <windows.h>
#include <objbase.h>

#include <cwchar>

namespace {

LRESULT CALLBACK MainProc(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcW(wnd, msg, wparam, lparam);
}

int RunEmptyWindow(HINSTANCE instance) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = MainProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"HkbTestEmptyGui";
  if (!::RegisterClassExW(&wc)) return 1;
  const HWND wnd = ::CreateWindowExW(0, wc.lpszClassName, L"empty", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                     CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
  if (!wnd) return 1;
  ::PostMessageW(wnd, WM_CLOSE, 0, 0);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
  if (commandLine && std::wcsstr(commandLine, L"/window")) return RunEmptyWindow(instance);
  if (!commandLine || !std::wcsstr(commandLine, L"/com")) return 0;
  const HMODULE ole32 = ::LoadLibraryW(L"ole32.dll");
  if (!ole32) return 1;
  using Init = HRESULT(WINAPI*)(LPVOID);
  using Uninit = void(WINAPI*)();
  const auto init = reinterpret_cast<Init>(reinterpret_cast<void*>(::GetProcAddress(ole32, "CoInitialize")));
  const auto uninit =
      reinterpret_cast<Uninit>(reinterpret_cast<void*>(::GetProcAddress(ole32, "CoUninitialize")));
  if (init && uninit && SUCCEEDED(init(nullptr))) uninit();
  ::FreeLibrary(ole32);
  return 0;
}
