// Stand-in for the system's app search pane, run as its own process. A
// low-level keyboard hook watches every key event; Windows key + Q brings up
// a window of the class "SearchPane" in the foreground, Shift + Insert while it
// shows takes the clipboard text, and Enter sends it away (or not, see below).
// It ends when its main thread receives WM_QUIT.
//
// The hook runs on a thread of its own that does nothing but queue the event
// for the window's thread: the system waits only so long for a low-level hook,
// and on a loaded machine the window's work (hiding, holding the clipboard,
// writing records) could outlast that and lose the next key event.
//
// Records under the stand-in name "searchpane", in the order things happen:
//   ready                                   the hook is in place
//   key <vk> <scan> <flags> <time> <extra>  every key event the hook saw (decimal)
//   shown
//   paste <clipboard text or \0> <browser setting>
//        where the setting is the current user's "ApplicationTileImmersiveActivation"
//        at that moment: "none", "d:<number>" or "t<type>"
//   stay                                    an Enter that the pane stays through
//   hidden
// The scenario is read at each Windows key + Q:
//   appear=<0|1>   the pane comes up (default 1)
//   stay=<n>       it stays through n Enter presses and goes at the next (default 0)
//   hold=<ms>      when it goes, it keeps the clipboard open this long (default 0)
//   grab=<ms>      as it comes up, it puts kGrabbedText on the clipboard and
//                  keeps the clipboard open this long (default 0); records
//                  "grab" and, when it lets go, "released"
#include <windows.h>

#include <cstring>
#include <deque>
#include <mutex>
#include <string>

#include "hkb/unique.h"
#include "hkbstandin/records.h"
#include "hkbtest/clipboard.h"

namespace {

constexpr wchar_t kName[] = L"searchpane";
constexpr wchar_t kClass[] = L"SearchPane";
constexpr UINT kKeysArrived = WM_APP + 1;
constexpr UINT_PTR kHoldTimer = 1;
constexpr UINT_PTR kGrabTimer = 2;
constexpr wchar_t kGrabbedText[] = L"text of the program that holds the clipboard";

HWND s_pane = nullptr;
std::mutex s_eventsLock;
std::deque<KBDLLHOOKSTRUCT> s_events;  // guarded by s_eventsLock
bool s_winDown = false;
bool s_shiftDown = false;
bool s_shown = false;
long s_stay = 0;
long s_hold = 0;
long s_stayed = 0;
std::wstring s_text = L"(search)";

// The hook only queues the event: the work happens in the window thread's
// message loop, in the order the events came.
LRESULT CALLBACK KeyboardHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HC_ACTION) {
    {
      const std::lock_guard<std::mutex> lock(s_eventsLock);
      s_events.push_back(*reinterpret_cast<const KBDLLHOOKSTRUCT*>(lparam));
    }
    ::PostMessageW(s_pane, kKeysArrived, 0, 0);
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

bool NextEvent(KBDLLHOOKSTRUCT& k) {
  const std::lock_guard<std::mutex> lock(s_eventsLock);
  if (s_events.empty()) return false;
  k = s_events.front();
  s_events.pop_front();
  return true;
}

// The hook thread: sets the hook, says whether it did, and pumps until WM_QUIT.
struct HookThread {
  HINSTANCE instance;
  HANDLE placed;  // set once the hook is in place (or failed)
  bool ok = false;
};

DWORD WINAPI RunHook(void* param) {
  auto* t = static_cast<HookThread*>(param);
  HHOOK hook = ::SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardHook, t->instance, 0);
  t->ok = hook != nullptr;
  ::SetEvent(t->placed);
  if (!hook) return 1;
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  ::UnhookWindowsHookEx(hook);
  return 0;
}

std::wstring BrowserSetting() {
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD size = sizeof value;
  const LSTATUS status = ::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\Main",
                                        L"ApplicationTileImmersiveActivation", RRF_RT_ANY | RRF_NOEXPAND,
                                        &type, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return L"none";
  if (type != REG_DWORD) return L"t" + std::to_wstring(type);
  ::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\Main",
                 L"ApplicationTileImmersiveActivation", RRF_RT_REG_DWORD, nullptr, &value, &size);
  return L"d:" + std::to_wstring(value);
}

// Takes the clipboard with a text of its own and keeps it open for `ms`.
void Grab(long ms) {
  if (!::OpenClipboard(s_pane)) return;
  ::EmptyClipboard();
  const size_t bytes = sizeof kGrabbedText;
  if (HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    if (void* p = ::GlobalLock(block)) {
      std::memcpy(p, kGrabbedText, bytes);
      ::GlobalUnlock(block);
    }
    if (!::SetClipboardData(CF_UNICODETEXT, block)) ::GlobalFree(block);
  }
  ::SetTimer(s_pane, kGrabTimer, static_cast<UINT>(ms), nullptr);
  hkbstandin::AppendRecord(kName, {L"grab"});
}

void Show() {
  const hkbstandin::Scenario s = hkbstandin::ReadScenario(kName);
  if (const long grab = hkbstandin::Number(s, "grab", 0); grab > 0) Grab(grab);
  if (hkbstandin::Number(s, "appear", 1) == 0) return;
  s_stay = hkbstandin::Number(s, "stay", 0);
  s_hold = hkbstandin::Number(s, "hold", 0);
  s_stayed = 0;
  s_text = L"(search)";
  ::ShowWindow(s_pane, SW_SHOWNORMAL);
  ::SetForegroundWindow(s_pane);
  ::InvalidateRect(s_pane, nullptr, TRUE);
  s_shown = true;
  hkbstandin::AppendRecord(kName, {L"shown"});
}

void Hide() {
  if (s_hold > 0 && ::OpenClipboard(s_pane))
    ::SetTimer(s_pane, kHoldTimer, static_cast<UINT>(s_hold), nullptr);
  ::ShowWindow(s_pane, SW_HIDE);
  s_shown = false;
  hkbstandin::AppendRecord(kName, {L"hidden"});
}

void Handle(const KBDLLHOOKSTRUCT& k) {
  hkbstandin::AppendRecord(
      kName, {L"key", std::to_wstring(k.vkCode), std::to_wstring(k.scanCode), std::to_wstring(k.flags),
              std::to_wstring(k.time), std::to_wstring(static_cast<unsigned long long>(k.dwExtraInfo))});
  const bool down = (k.flags & LLKHF_UP) == 0;
  switch (k.vkCode) {
    case VK_LWIN: s_winDown = down; return;
    case VK_SHIFT:
    case VK_LSHIFT:
    case VK_RSHIFT: s_shiftDown = down; return;
    default: break;
  }
  // Q by its scan code: the system may or may not report its virtual key.
  if (down && k.scanCode == 0x10 && s_winDown) {
    Show();
  } else if (down && k.vkCode == VK_INSERT && s_shiftDown && s_shown) {
    const hkbstandin::Field text = hkbtest::ClipboardText(s_pane);
    s_text = text ? *text : L"(nothing)";
    ::InvalidateRect(s_pane, nullptr, TRUE);
    hkbstandin::AppendRecord(kName, {L"paste", text, BrowserSetting()});
  } else if (down && k.vkCode == VK_RETURN && s_shown) {
    if (s_stayed < s_stay) {
      ++s_stayed;
      hkbstandin::AppendRecord(kName, {L"stay"});
    } else {
      Hide();
    }
  }
}

LRESULT CALLBACK PaneProc(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case kKeysArrived: {
      KBDLLHOOKSTRUCT k;
      while (NextEvent(k)) Handle(k);
      return 0;
    }
    case WM_TIMER:
      if (wparam == kHoldTimer || wparam == kGrabTimer) {
        ::KillTimer(wnd, wparam);
        ::CloseClipboard();
        if (wparam == kGrabTimer) hkbstandin::AppendRecord(kName, {L"released"});
      }
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(wnd, &ps);
      RECT r;
      ::GetClientRect(wnd, &r);
      ::FillRect(dc, &r, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
      ::DrawTextW(dc, s_text.c_str(), -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      ::EndPaint(wnd, &ps);
      return 0;
    }
    default: return ::DefWindowProcW(wnd, msg, wparam, lparam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = PaneProc;
  wc.hInstance = instance;
  wc.lpszClassName = kClass;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  if (!::RegisterClassW(&wc)) return 1;
  s_pane = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClass, L"Search", WS_POPUP | WS_BORDER, 340,
                             40, 600, 60, nullptr, nullptr, instance, nullptr);
  if (!s_pane) return 2;
  const hkb::UniqueHandle placed(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!placed) return 3;
  HookThread hook{instance, placed.get()};
  DWORD hook_thread_id = 0;
  const hkb::UniqueHandle hook_thread(::CreateThread(nullptr, 0, RunHook, &hook, 0, &hook_thread_id));
  if (!hook_thread) return 3;
  ::WaitForSingleObject(placed.get(), INFINITE);
  if (!hook.ok) return 3;
  hkbstandin::AppendRecord(kName, {L"ready"});
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  ::PostThreadMessageW(hook_thread_id, WM_QUIT, 0, 0);
  ::WaitForSingleObject(hook_thread.get(), INFINITE);
  ::DestroyWindow(s_pane);
  return 0;
}
