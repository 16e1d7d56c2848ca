#include <cwchar>
#include <list>
#include <string>
#include <utility>

#include "hkb/framework.h"

namespace {

// The object whose window this thread is creating, until the window's first
// message attaches the two.
thread_local CWnd* t_creating = nullptr;

// The message this thread is handling, for Default(). Handlers may send
// messages, so each dispatch saves and restores it on its own stack.
struct DispatchedMessage {
  HWND hWnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
thread_local const DispatchedMessage* t_message = nullptr;

// Names handed out by RegisterWndClass; a list keeps the pointers stable.
std::list<std::wstring>& RegisteredClasses() {
  static std::list<std::wstring> names;
  return names;
}

}  // namespace

CWnd::~CWnd() {
  const HWND hWnd = std::exchange(m_hWnd, nullptr);
  if (!hWnd || !::IsWindow(hWnd)) return;
  ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
  if (!::DestroyWindow(hWnd)) {
    // Another thread owns the window. Its messages must no longer reach this
    // module, which may be unloaded next; that thread closes it by default.
    ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&::DefWindowProcW));
    ::PostMessageW(hWnd, WM_CLOSE, 0, 0);
  }
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, int x,
                    int y, int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu, LPVOID lpParam) {
  if (m_hWnd) return FALSE;
  CREATESTRUCTW cs = {};
  cs.dwExStyle = dwExStyle;
  cs.lpszClass = lpszClassName;
  cs.lpszName = lpszWindowName;
  cs.style = static_cast<LONG>(dwStyle);
  cs.x = x;
  cs.y = y;
  cs.cx = nWidth;
  cs.cy = nHeight;
  cs.hwndParent = hWndParent;
  cs.hMenu = nIDorHMenu;
  cs.hInstance = AfxGetInstanceHandle();
  cs.lpCreateParams = lpParam;
  if (!PreCreateWindow(cs)) return FALSE;

  CWnd* const outer = std::exchange(t_creating, this);
  const HWND hWnd =
      ::CreateWindowExW(cs.dwExStyle, cs.lpszClass, cs.lpszName, static_cast<DWORD>(cs.style), cs.x, cs.y,
                        cs.cx, cs.cy, cs.hwndParent, cs.hMenu, cs.hInstance, cs.lpCreateParams);
  t_creating = outer;
  return hWnd != nullptr;
}

BOOL CWnd::DestroyWindow() {
  if (!m_hWnd) return FALSE;
  return ::DestroyWindow(m_hWnd);
}

BOOL CWnd::PreCreateWindow(CREATESTRUCTW&) { return TRUE; }

LRESULT CWnd::WindowProc(UINT, WPARAM, LPARAM) { return Default(); }

LRESULT CWnd::Default() {
  const DispatchedMessage* m = t_message;
  if (!m) return 0;
  return ::DefWindowProcW(m->hWnd, m->message, m->wParam, m->lParam);
}

LRESULT CALLBACK CWnd::StaticWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* wnd = reinterpret_cast<CWnd*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
  if (!wnd && t_creating) {
    wnd = std::exchange(t_creating, nullptr);
    wnd->m_hWnd = hWnd;
    ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(wnd));
  }
  if (!wnd) return ::DefWindowProcW(hWnd, message, wParam, lParam);

  const DispatchedMessage current{hWnd, message, wParam, lParam};
  const DispatchedMessage* const outer = std::exchange(t_message, &current);
  LRESULT result;
  try {
    result = wnd->WindowProc(message, wParam, lParam);
  } catch (...) {
    // No exception may unwind through the system's frames: a failed
    // WM_CREATE / WM_NCCREATE fails the creation, anything else is dropped.
    result = message == WM_CREATE ? -1 : (message == WM_NCCREATE ? FALSE : 0);
  }
  t_message = outer;
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
    wnd->m_hWnd = nullptr;
    wnd->PostNcDestroy();
  }
  return result;
}

LPCWSTR CWnd::RegisterWndClass(UINT nClassStyle, HCURSOR hCursor, HBRUSH hbrBackground, HICON hIcon) {
  const HINSTANCE instance = AfxGetInstanceHandle();
  wchar_t name[128];
  std::swprintf(name, std::size(name), L"HkbWnd:%p:%x:%p:%p:%p", static_cast<void*>(instance), nClassStyle,
                static_cast<void*>(hCursor), static_cast<void*>(hbrBackground), static_cast<void*>(hIcon));
  for (const std::wstring& known : RegisteredClasses()) {
    if (known == name) return known.c_str();
  }
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.style = nClassStyle;
  wc.lpfnWndProc = &CWnd::StaticWindowProc;
  wc.hInstance = instance;
  wc.hCursor = hCursor;
  wc.hbrBackground = hbrBackground;
  wc.hIcon = hIcon;
  wc.lpszClassName = name;
  if (!::RegisterClassExW(&wc)) return nullptr;
  return RegisteredClasses().emplace_back(name).c_str();
}

namespace hkb::framework {

void UnregisterWndClasses() {
  const HINSTANCE instance = AfxGetInstanceHandle();
  for (const std::wstring& name : RegisteredClasses()) ::UnregisterClassW(name.c_str(), instance);
  RegisteredClasses().clear();
}

}  // namespace hkb::framework
