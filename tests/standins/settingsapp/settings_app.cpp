// Stand-in for the maker's settings Store app, for the scripted run. The
// activation manager stand-in starts it as Windows starts an activated app:
//   settings_app.exe <AppUserModelID> [<activation arguments>]
// One window serves every activation: a second start hands its activation to
// the running window (WM_COPYDATA) and ends. The window shows the app and the
// page that the arguments name ("?section=<page>&=") and records every
// activation it shows under the stand-in name "settingsapp":
//   <AppUserModelID> <arguments or null> <process id of the window> <GetTickCount64 when shown>
// It closes on WM_CLOSE.
#include <windows.h>
#include <shellapi.h>

#include <optional>
#include <string>

#include "hkbstandin/records.h"

namespace {

constexpr wchar_t kClass[] = L"HkbTestSettingsApp";
constexpr wchar_t kName[] = L"settingsapp";
constexpr ULONG_PTR kActivationCopy = 0x5E771465;

struct Activation {
  std::wstring app;
  std::optional<std::wstring> arguments;
};

Activation s_shown;

// "?section=PowerSection&=" -> "PowerSection"; no arguments -> the home page.
std::wstring PageOf(const std::optional<std::wstring>& arguments) {
  if (!arguments) return L"Home";
  const std::wstring key = L"section=";
  const size_t at = arguments->find(key);
  if (at == std::wstring::npos) return L"Home";
  const size_t from = at + key.size();
  const size_t end = arguments->find(L'&', from);
  return arguments->substr(from, end == std::wstring::npos ? std::wstring::npos : end - from);
}

// The activation as one block: the app, a 1 when arguments follow, then them.
std::wstring Encode(const Activation& a) {
  std::wstring out = a.app;
  out += L'\n';
  if (a.arguments) out += L"1\n" + *a.arguments;
  return out;
}

Activation Decode(const std::wstring& text) {
  Activation a;
  const size_t nl = text.find(L'\n');
  a.app = text.substr(0, nl);
  if (nl != std::wstring::npos && text.compare(nl + 1, 2, L"1\n") == 0) a.arguments = text.substr(nl + 3);
  return a;
}

void Show(HWND wnd, const Activation& a) {
  s_shown = a;
  ::SetWindowTextW(wnd, (L"ZEV Settings - " + PageOf(a.arguments)).c_str());
  ::InvalidateRect(wnd, nullptr, TRUE);
  ::UpdateWindow(wnd);
  hkbstandin::AppendRecord(kName, {a.app, a.arguments, std::to_wstring(::GetCurrentProcessId()),
                                   std::to_wstring(::GetTickCount64())});
}

void Paint(HWND wnd) {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(wnd, &ps);
  RECT rc;
  ::GetClientRect(wnd, &rc);
  HBRUSH band = ::CreateSolidBrush(RGB(0, 84, 147));
  RECT top = {0, 0, rc.right, 64};
  ::FillRect(dc, &top, band);
  ::DeleteObject(band);
  ::SetBkMode(dc, TRANSPARENT);
  LOGFONTW lf = {};
  lf.lfHeight = -30;
  lf.lfWeight = FW_BOLD;
  ::lstrcpyW(lf.lfFaceName, L"DejaVu Sans");
  HFONT big = ::CreateFontIndirectW(&lf);
  lf.lfHeight = -16;
  lf.lfWeight = FW_NORMAL;
  HFONT small = ::CreateFontIndirectW(&lf);
  HGDIOBJ old = ::SelectObject(dc, big);
  ::SetTextColor(dc, RGB(255, 255, 255));
  RECT title = {20, 14, rc.right - 20, 60};
  ::DrawTextW(dc, L"ZEV Settings (stand-in)", -1, &title, DT_SINGLELINE | DT_NOPREFIX);
  ::SetTextColor(dc, RGB(20, 20, 20));
  RECT page = {20, 90, rc.right - 20, 140};
  const std::wstring heading = L"Page: " + PageOf(s_shown.arguments);
  ::DrawTextW(dc, heading.c_str(), -1, &page, DT_SINGLELINE | DT_NOPREFIX);
  ::SelectObject(dc, small);
  RECT detail = {20, 160, rc.right - 20, rc.bottom - 10};
  const std::wstring text =
      L"App: " + s_shown.app + L"\nArguments: " +
      (s_shown.arguments ? L"\"" + *s_shown.arguments + L"\"" : std::wstring(L"(none)"));
  ::DrawTextW(dc, text.c_str(), -1, &detail, DT_NOPREFIX | DT_WORDBREAK);
  ::SelectObject(dc, old);
  ::DeleteObject(big);
  ::DeleteObject(small);
  ::EndPaint(wnd, &ps);
}

LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COPYDATA: {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lp);
      if (!data || data->dwData != kActivationCopy) return FALSE;
      Show(wnd,
           Decode(std::wstring(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t))));
      return TRUE;
    }
    case WM_PAINT: Paint(wnd); return 0;
    case WM_DESTROY: ::PostQuitMessage(0); return 0;
    default: return ::DefWindowProcW(wnd, msg, wp, lp);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv || argc < 2) return 2;
  Activation activation{argv[1], argc > 2 ? std::optional<std::wstring>(argv[2]) : std::nullopt};
  ::LocalFree(argv);

  // A window of an earlier start takes the activation.
  if (HWND running = ::FindWindowW(kClass, nullptr)) {
    const std::wstring block = Encode(activation);
    COPYDATASTRUCT data = {kActivationCopy, static_cast<DWORD>(block.size() * sizeof(wchar_t)),
                           const_cast<wchar_t*>(block.data())};
    DWORD_PTR answer = 0;
    const LRESULT sent = ::SendMessageTimeoutW(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                                               SMTO_ABORTIFHUNG, 30000, &answer);
    return sent && answer ? 0 : 3;
  }

  WNDCLASSW wc = {};
  wc.lpfnWndProc = &Proc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kClass;
  if (!::RegisterClassW(&wc)) return 4;
  const int width = 620, height = 300;
  const int x = ::GetSystemMetrics(SM_CXSCREEN) - width - 40;
  HWND wnd = ::CreateWindowExW(0, kClass, L"ZEV Settings", WS_OVERLAPPEDWINDOW, x, 40, width, height, nullptr,
                               nullptr, instance, nullptr);
  if (!wnd) return 5;
  ::ShowWindow(wnd, SW_SHOWNORMAL);
  Show(wnd, activation);
  MSG m;
  while (::GetMessageW(&m, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&m);
    ::DispatchMessageW(&m);
  }
  return 0;
}
