// A demo of the resident button service that the ZEV HKB libraries work
// beside. It is not part of the product: it stands for the maker's service in
// the scripted run (./hkb run) and is written only from the product's
// interfaces (the window class, the messages HKBPS2 posts, the exports of
// HKBPS2, HKBFNK and ZEVOSD, and the launcher's command line).
//
//   button_service.exe <log file>
//
// It owns a window of class "ZEVHKBCLASS" (created before HKBPS2.dll is loaded,
// so that the library's hidden window finds it), loads the three libraries
// from "<Program Files>\ZEVHKB", opens the button device and starts polling
// with its window as the host. Each event is answered by the table in
// demo_keyboard.h: brightness keys step the panel through HKBFNK and show the
// level through ZEVOSD, the airplane key starts the wireless program through
// HKBFNK, the power button starts the launcher with "/POWER", the "+/-" button
// starts it without a switch (its prompt) and a long press with "/HUB".
//
// Every event and action is appended to the log as one line:
//   <GetTickCount64 ms> <event> [key=value ...]
// and the last ones are shown in the window. WM_CLOSE stops polling, unloads
// the libraries and ends the program; "stopped" is the last line.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "HKBFNK.h"
#include "HKBPS2.h"
#include "ZEVOSD.h"
#include "demo_keyboard.h"

namespace {

constexpr UINT_PTR kWatchTimer = 1;
constexpr DWORD kOsdDuration = 4000;

std::wstring s_logPath;
std::deque<std::string> s_recent;  // shown in the window
HWND s_window = nullptr;

struct Libraries {
  HMODULE ps2 = nullptr, fnk = nullptr, osd = nullptr;
  PFN_HKBPS2_OPENDEVICE open = nullptr;
  PFN_HKBPS2_START start = nullptr;
  PFN_HKBPS2_STOP stop = nullptr;
  PFN_HKBFNK_SETCURRENTBRIGHT bright = nullptr;
  PFN_HKBFNK_INFORM airplane = nullptr;
  PFN_OnScreen_Display show = nullptr;
} s_lib;

struct Launch {
  HANDLE process;
  DWORD pid;
  ULONGLONG started;
};
std::vector<Launch> s_launches;

struct Osd {
  HWND wnd = nullptr;
  ULONGLONG shown = 0;
} s_osd;

void Log(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  const std::string line = std::to_string(::GetTickCount64()) + " " + text + "\n";
  HANDLE f = ::CreateFileW(s_logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f != INVALID_HANDLE_VALUE) {
    DWORD put = 0;
    ::WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &put, nullptr);
    ::CloseHandle(f);
  }
}

// A line for the window (the log has the exact values).
void Show(const std::string& line) {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "%02u:%02u:%02u ", t.wHour, t.wMinute, t.wSecond);
  s_recent.push_back(stamp + line);
  while (s_recent.size() > 9) s_recent.pop_front();
  if (s_window) ::InvalidateRect(s_window, nullptr, TRUE);
}

std::wstring ProductFolder() {
  wchar_t path[MAX_PATH] = {};
  ::SHGetSpecialFolderPathW(nullptr, path, CSIDL_PROGRAM_FILES, FALSE);
  return std::wstring(path) + L"\\ZEVHKB\\";
}

std::string Narrow(const std::wstring& s) {
  std::string out;
  for (wchar_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

template <class Fn>
Fn Bind(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
}

HMODULE Load(const wchar_t* file) {
  const std::wstring path = ProductFolder() + file;
  HMODULE m = ::LoadLibraryW(path.c_str());
  Log("load file=%s result=%s error=%lu", Narrow(file).c_str(), m ? "ok" : "failed",
      m ? 0ul : ::GetLastError());
  return m;
}

// The display this thread's ZEVOSD call just put up: a visible, top-most
// window of this thread other than the service's own.
HWND FindOsdWindow() {
  struct Search {
    HWND found = nullptr;
  } search;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND wnd, LPARAM p) -> BOOL {
        if (wnd != s_window && ::IsWindowVisible(wnd) &&
            (::GetWindowLongPtrW(wnd, GWL_EXSTYLE) & WS_EX_TOPMOST)) {
          reinterpret_cast<Search*>(p)->found = wnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void ShowOsd(const std::wstring& text, COLORREF color) {
  if (!s_lib.show) {
    Log("osd result=unbound");
    return;
  }
  OSD_REQUEST r = {};
  r.cbSize = sizeof r;
  r.crColor = color;
  r.nPosition = OSD_POS_CENTER;
  r.nDuration = kOsdDuration;
  r.nHeightDiv = 8;
  r.lf.lfWeight = FW_BOLD;
  r.lf.lfCharSet = DEFAULT_CHARSET;
  r.lf.lfQuality = ANTIALIASED_QUALITY;
  ::lstrcpyW(r.lf.lfFaceName, L"DejaVu Sans");
  r.pszText = text.c_str();
  // The display's time runs from inside the call: taken before it, so that a
  // slow return (a loaded machine) cannot make the display seem to go early.
  const ULONGLONG called = ::GetTickCount64();
  const int result = s_lib.show(&r);
  HWND wnd = result ? FindOsdWindow() : nullptr;
  RECT rc = {};
  if (wnd) ::GetWindowRect(wnd, &rc);
  Log("osd text=\"%s\" result=%d window=%s size=%ldx%ld at=%ld,%ld", Narrow(text).c_str(), result,
      wnd ? "shown" : "none", rc.right - rc.left, rc.bottom - rc.top, rc.left, rc.top);
  s_osd = {wnd, called};
  if (wnd) ::SetTimer(s_window, kWatchTimer, 50, nullptr);
}

void StartLauncher(const wchar_t* switches) {
  const std::wstring program = ProductFolder() + L"HKBUTLEx.exe";
  std::wstring command = L"\"" + program + L"\"";
  if (*switches) command += std::wstring(L" ") + switches;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
    Log("launch switch=\"%s\" result=failed error=%lu", Narrow(switches).c_str(), ::GetLastError());
    Show("launcher could not start");
    return;
  }
  ::CloseHandle(pi.hThread);
  s_launches.push_back({pi.hProcess, pi.dwProcessId, ::GetTickCount64()});
  Log("launch switch=\"%s\" pid=%lu", Narrow(switches).c_str(), pi.dwProcessId);
  Show("-> HKBUTLEx.exe " + (*switches ? Narrow(switches) : std::string("(no switch)")));
}

void OnButtonEvent(UINT msg, WPARAM wp, LPARAM lp) {
  Log("message msg=0x%04X name=%s wparam=%llu lparam=%lld", msg, demo::MessageName(msg),
      static_cast<unsigned long long>(wp), static_cast<long long>(lp));
  char event[96];
  std::snprintf(event, sizeof event, "%s(%llu, %lld)", demo::MessageName(msg),
                static_cast<unsigned long long>(wp), static_cast<long long>(lp));
  Show(event);
  const demo::Action action = demo::ActionFor(msg, wp, static_cast<intptr_t>(lp));
  switch (action) {
    case demo::Action::kBrightnessUp:
    case demo::Action::kBrightnessDown: {
      const int direction = action == demo::Action::kBrightnessUp ? 2 : 3;
      const int level = s_lib.bright ? s_lib.bright(direction) : -1;
      Log("brightness direction=%d level=%d", direction, level);
      Show("-> HKBFNK_SetCurrentBright(" + std::to_string(direction) + ") = " + std::to_string(level));
      if (level > 0) ShowOsd(L"Brightness " + std::to_wstring(level), RGB(255, 196, 0));
      break;
    }
    case demo::Action::kAirplane: {
      const int result = s_lib.airplane ? s_lib.airplane() : -1;
      Log("airplane result=%d", result);
      Show("-> HKBFNK_Inform_AirPlane_Push() = " + std::to_string(result));
      ShowOsd(L"Airplane mode", RGB(80, 200, 255));
      break;
    }
    case demo::Action::kPowerPage:
    case demo::Action::kPrompt:
    case demo::Action::kSettingsHome: StartLauncher(demo::LauncherSwitch(action)); break;
    case demo::Action::kReleased: Log("released"); break;
    case demo::Action::kNone: Log("ignored"); break;
  }
}

void CheckLaunches() {
  for (auto it = s_launches.begin(); it != s_launches.end();) {
    if (::WaitForSingleObject(it->process, 0) != WAIT_OBJECT_0) {
      ++it;
      continue;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(it->process, &code);
    Log("launcher-ended pid=%lu code=%lu ran=%llu", it->pid, code, ::GetTickCount64() - it->started);
    Show("   launcher ended");
    ::CloseHandle(it->process);
    it = s_launches.erase(it);
  }
}

void Paint(HWND wnd) {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(wnd, &ps);
  RECT rc;
  ::GetClientRect(wnd, &rc);
  ::SetBkMode(dc, TRANSPARENT);
  HFONT font = ::CreateFontW(-14, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, FIXED_PITCH,
                             L"DejaVu Sans Mono");
  HGDIOBJ old = ::SelectObject(dc, font);
  int y = 8;
  for (const std::string& line : s_recent) {
    ::TextOutA(dc, 10, y, line.c_str(), static_cast<int>(line.size()));
    y += 20;
  }
  ::SelectObject(dc, old);
  ::DeleteObject(font);
  ::EndPaint(wnd, &ps);
}

LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case demo::kMsgButtonCode:
    case demo::kMsgBitButton:
    case demo::kMsgKeyCode:
    case demo::kMsgCode135To140:
    case demo::kMsgCode141:
    case demo::kMsgTimer5: OnButtonEvent(msg, wp, lp); return 0;
    case WM_TIMER:
      if (wp == kWatchTimer && s_osd.wnd && !(::IsWindow(s_osd.wnd) && ::IsWindowVisible(s_osd.wnd))) {
        Log("osd-gone after=%llu", ::GetTickCount64() - s_osd.shown);
        s_osd.wnd = nullptr;
        ::KillTimer(wnd, kWatchTimer);
      }
      return 0;
    case WM_PAINT: Paint(wnd); return 0;
    case WM_CLOSE:
      Log("stopping");
      if (s_lib.stop) s_lib.stop();
      ::DestroyWindow(wnd);
      return 0;
    case WM_DESTROY: ::PostQuitMessage(0); return 0;
    default: return ::DefWindowProcW(wnd, msg, wp, lp);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv || argc != 2) return 2;
  s_logPath = argv[1];
  ::LocalFree(argv);

  WNDCLASSW wc = {};
  wc.lpfnWndProc = &Proc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"ZEVHKBCLASS";
  if (!::RegisterClassW(&wc)) return 3;
  const int height = 240;
  s_window = ::CreateWindowExW(0, wc.lpszClassName, L"Button service (demo)", WS_OVERLAPPED | WS_CAPTION, 20,
                               ::GetSystemMetrics(SM_CYSCREEN) - height - 60, 560, height, nullptr, nullptr,
                               instance, nullptr);
  if (!s_window) return 4;
  ::ShowWindow(s_window, SW_SHOWNOACTIVATE);

  s_lib.fnk = Load(L"HKBFNK.dll");
  s_lib.osd = Load(L"ZEVOSD.dll");
  s_lib.ps2 = Load(L"HKBPS2.dll");
  s_lib.bright = Bind<PFN_HKBFNK_SETCURRENTBRIGHT>(s_lib.fnk, "HKBFNK_SetCurrentBright");
  s_lib.airplane = Bind<PFN_HKBFNK_INFORM>(s_lib.fnk, "HKBFNK_Inform_AirPlane_Push");
  s_lib.show = Bind<PFN_OnScreen_Display>(s_lib.osd, "OnScreen_Display");
  s_lib.open = Bind<PFN_HKBPS2_OPENDEVICE>(s_lib.ps2, "HKBPS2_OpenDevice");
  s_lib.start = Bind<PFN_HKBPS2_START>(s_lib.ps2, "HKBPS2_Start");
  s_lib.stop = Bind<PFN_HKBPS2_STOP>(s_lib.ps2, "HKBPS2_Stop");
  const int opened = s_lib.open ? s_lib.open() : -1;
  const int started = opened == 1 && s_lib.start ? s_lib.start(s_window, 0) : -1;
  Log("started pid=%lu window=0x%llx open=%d start=%d", ::GetCurrentProcessId(),
      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(s_window)), opened, started);
  Show("HKBPS2_OpenDevice() = " + std::to_string(opened) + ", HKBPS2_Start() = " + std::to_string(started));

  for (;;) {
    std::vector<HANDLE> waits;
    for (const Launch& l : s_launches) waits.push_back(l.process);
    const DWORD got = ::MsgWaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE,
                                                  INFINITE, QS_ALLINPUT);
    if (got < WAIT_OBJECT_0 + waits.size()) CheckLaunches();
    MSG m;
    bool quit = false;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_QUIT) quit = true;
      ::TranslateMessage(&m);
      ::DispatchMessageW(&m);
    }
    if (quit) break;
  }
  for (const Launch& l : s_launches) ::CloseHandle(l.process);
  // HKBPS2 first: its unload closes the device and ends its worker.
  for (HMODULE m : {s_lib.ps2, s_lib.osd, s_lib.fnk}) {
    if (m) ::FreeLibrary(m);
  }
  Log("stopped");
  return 0;
}
