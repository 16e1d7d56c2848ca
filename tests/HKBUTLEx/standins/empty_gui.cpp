// The baselines of the start-up benchmark: a Windows GUI program that does
// nothing and ends (it imports no more than the runtime needs). With "/window"
// it is the usual empty GUI program: it registers its window class, creates
// its (hidden) main window, closes it and leaves its message loop. With "/com"
// it only enters and leaves a single-threaded COM apartment, the least that
// any activation costs; ole32 is then bound at run time, so that the plain run
// does not load it. With "/hub" it makes, bare and in the launcher's order,
// every platform call a launcher start with "/HUB" makes up to its activation:
// the common controls, the dialog class copied and registered, the Program
// Files folder asked twice and the two libraries looked for there, the command
// line split, then COM, the activation manager and its ActivateApplication.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cwchar>
#include <initializer_list>

#include "hkb/com.h"

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

template <typename F>
F Bind(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

int RunHubCalls(HINSTANCE instance) {
  const HMODULE comctl32 = ::LoadLibraryW(L"comctl32.dll");
  const HMODULE shell32 = ::LoadLibraryW(L"shell32.dll");
  const HMODULE ole32 = ::LoadLibraryW(L"ole32.dll");
  if (!comctl32 || !shell32 || !ole32) return 1;
  const auto initControls =
      Bind<BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*)>(comctl32, "InitCommonControlsEx");
  const auto folder = Bind<BOOL(WINAPI*)(HWND, LPWSTR, int, BOOL)>(shell32, "SHGetSpecialFolderPathW");
  const auto split = Bind<LPWSTR*(WINAPI*)(LPCWSTR, int*)>(shell32, "CommandLineToArgvW");
  const auto init = Bind<HRESULT(WINAPI*)(LPVOID, DWORD)>(ole32, "CoInitializeEx");
  const auto create =
      Bind<HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*)>(ole32, "CoCreateInstance");
  const auto uninit = Bind<void(WINAPI*)()>(ole32, "CoUninitialize");
  if (!initControls || !folder || !split || !init || !create || !uninit) return 1;

  const INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
  initControls(&controls);
  WNDCLASSW dialog = {};
  if (!::GetClassInfoW(instance, L"#32770", &dialog)) return 1;
  dialog.hInstance = instance;
  dialog.lpszClassName = L"HkbTestEmptyDialogCopy";
  if (!::RegisterClassW(&dialog)) return 1;
  for (const wchar_t* file : {L"\\ZEVHKB\\DSPMODE.dll", L"\\ZEVHKB\\HkbHelper.dll"}) {
    wchar_t path[MAX_PATH] = {};
    folder(nullptr, path, CSIDL_PROGRAM_FILES, FALSE);
    if (std::wcslen(path) + std::wcslen(file) < MAX_PATH) std::wcscat(path, file);
    if (const HMODULE library = ::LoadLibraryW(path)) ::FreeLibrary(library);
  }
  int count = 0;
  if (LPWSTR* elements = split(::GetCommandLineW(), &count)) ::LocalFree(elements);

  HRESULT hr = init(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) return 1;
  IApplicationActivationManager* manager = nullptr;
  hr = create(CLSID_ApplicationActivationManager, nullptr, CLSCTX_INPROC_SERVER,
              IID_IApplicationActivationManager, reinterpret_cast<void**>(&manager));
  if (SUCCEEDED(hr) && manager) {
    DWORD processId = 0;
    hr = manager->ActivateApplication(L"HkbTest.Floor_0000000000000!App", nullptr, AO_NONE, &processId);
    manager->Release();
  }
  uninit();
  return SUCCEEDED(hr) ? 0 : 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
  if (commandLine && std::wcsstr(commandLine, L"/window")) return RunEmptyWindow(instance);
  if (commandLine && std::wcsstr(commandLine, L"/hub")) return RunHubCalls(instance);
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
