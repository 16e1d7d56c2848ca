#include <cwchar>
#include <list>
#include <mutex>
#include <string>
#include <utility>

#include "hkb/framework.h"
#include "hkb/guard.h"
#include "hkb/sync.h"

namespace {

// How long DetachWindow waits for another thread's handler of the object.
constexpr DWORD kDetachWaitMs = 5000;

// The object whose window this thread is creating, until the window's first
// message attaches the two.
thread_local CWnd* t_creating = nullptr;

// The messages this thread is handling, innermost first: for Default(), and
// to know which objects this thread is inside. Handlers may send messages,
// so each dispatch keeps its entry on its own stack.
struct DispatchedMessage {
  HWND hWnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  CWnd* wnd;
  bool gone;  // the object was deleted while handling it
  DispatchedMessage* outer;
};
thread_local DispatchedMessage* t_message = nullptr;

// Guards the link between a window and its object (GWLP_USERDATA, m_hWnd)
// together with the start of every dispatch: once an object is parted from
// its window, no thread enters it for that window again.
hkb::SrwLock s_linkLock;

// Names handed out by RegisterWndClass; a list keeps the pointers stable.
std::list<std::wstring>& RegisteredClasses() {
  static std::list<std::wstring> names;
  return names;
}

// How many of this thread's dispatches are inside `wnd` now.
int OwnDispatches(const CWnd* wnd) {
  int n = 0;
  for (const DispatchedMessage* m = t_message; m; m = m->outer) n += m->wnd == wnd && !m->gone ? 1 : 0;
  return n;
}

bool OwnedByThisThread(HWND hWnd) {
  return ::GetWindowThreadProcessId(hWnd, nullptr) == ::GetCurrentThreadId();
}

// A class of this name and module is registered already: one that an earlier
// load of a module at this same address registered and could not unregister,
// because its window outlived the module on another thread. Once that window
// is gone it is unregistered and registered afresh; while the window is still
// there, it is taken over when it is the same class (this very procedure,
// the same styles, cursor, background and icon).
bool TakeBackClass(const WNDCLASSEXW& wc) {
  if (::UnregisterClassW(wc.lpszClassName, wc.hInstance) && ::RegisterClassExW(&wc)) return true;
  WNDCLASSEXW found = {};
  found.cbSize = sizeof found;
  if (!::GetClassInfoExW(wc.hInstance, wc.lpszClassName, &found)) return false;
  return found.lpfnWndProc == wc.lpfnWndProc && found.style == wc.style && found.hCursor == wc.hCursor &&
         found.hbrBackground == wc.hbrBackground && found.hIcon == wc.hIcon && found.cbClsExtra == 0 &&
         found.cbWndExtra == 0;
}

}  // namespace

CWnd::~CWnd() {
  DetachWindow();
  // A handler of this thread that deleted its own object must not touch it again.
  for (DispatchedMessage* m = t_message; m; m = m->outer) {
    if (m->wnd == this) m->gone = true;
  }
}

bool CWnd::DetachWindow() noexcept {
  HWND hWnd;
  bool linked;
  {
    std::lock_guard lock(s_linkLock);
    hWnd = std::exchange(m_hWnd, nullptr);
    linked = hWnd && ::GetWindowLongPtrW(hWnd, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(this);
    if (linked) ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
  }
  if (linked) {
    if (OwnedByThisThread(hWnd)) {
      ::DestroyWindow(hWnd);  // its last messages go to the default procedure
    } else {
      // Another thread owns it and only that thread can destroy it. Its
      // messages must no longer reach this module, which may be unloaded
      // next; the default procedure closes it when that thread gets to it.
      ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&::DefWindowProcW));
      ::PostMessageW(hWnd, WM_CLOSE, 0, 0);
    }
  }
  // A handler of this object that another thread is running finishes first.
  const int own = OwnDispatches(this);
  const hkb::Deadline deadline(kDetachWaitMs);
  while (m_dispatching.load() > own) {
    if (deadline.passed()) return false;
    ::Sleep(1);
  }
  return true;
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
  CWnd* wnd;
  {
    std::lock_guard lock(s_linkLock);
    wnd = reinterpret_cast<CWnd*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (!wnd && t_creating) {
      wnd = std::exchange(t_creating, nullptr);
      wnd->m_hWnd = hWnd;
      ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(wnd));
    }
    if (wnd) ++wnd->m_dispatching;
  }
  if (!wnd) return ::DefWindowProcW(hWnd, message, wParam, lParam);

  DispatchedMessage current{hWnd, message, wParam, lParam, wnd, false, t_message};
  t_message = &current;
  // No exception may unwind through the system's frames: a failed
  // WM_CREATE / WM_NCCREATE fails the creation, anything else is dropped.
  const LRESULT failed = message == WM_CREATE ? -1 : (message == WM_NCCREATE ? FALSE : 0);
  const LRESULT result = hkb::Guarded(failed, [&] { return wnd->WindowProc(message, wParam, lParam); });
  if (message == WM_NCDESTROY && !current.gone) {
    {
      std::lock_guard lock(s_linkLock);
      if (::GetWindowLongPtrW(hWnd, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(wnd)) {
        ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
      }
      if (wnd->m_hWnd == hWnd) wnd->m_hWnd = nullptr;
    }
    hkb::Guarded([&] { wnd->PostNcDestroy(); });  // may delete the object
  }
  t_message = current.outer;
  if (!current.gone) --wnd->m_dispatching;
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
  if (!::RegisterClassExW(&wc) && !(::GetLastError() == ERROR_CLASS_ALREADY_EXISTS && TakeBackClass(wc))) {
    return nullptr;
  }
  return RegisteredClasses().emplace_back(name).c_str();
}

namespace hkb::framework {

void UnregisterWndClasses() {
  const HINSTANCE instance = AfxGetInstanceHandle();
  for (const std::wstring& name : RegisteredClasses()) ::UnregisterClassW(name.c_str(), instance);
  RegisteredClasses().clear();
}

}  // namespace hkb::framework
