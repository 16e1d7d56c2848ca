// A small window and application framework: the base classes CWnd and CWinApp
// with the few behaviours the GUI deliverables rely on.
//
//  * CWnd::CreateEx fills a CREATESTRUCTW, lets the virtual PreCreateWindow
//    adjust it or refuse the creation, and creates the window. From its first
//    message on, the window is attached to the object (GWLP_USERDATA) and every
//    message goes through the virtual WindowProc; Default() hands the message
//    being handled to DefWindowProcW. An exception thrown by a handler stops
//    there (a failing WM_CREATE fails the creation).
//  * DestroyWindow is virtual so that a class can tidy up before the window goes.
//    The object outlives its window; m_hWnd is cleared on WM_NCDESTROY.
//  * An object whose window may still exist is parted from it before it is
//    deleted (DetachWindow, or delete through hkb::framework::WndPtr), so that
//    no message reaches it while its destructors run; ~CWnd does the same, but
//    only after the derived destructors.
//  * RegisterWndClass registers a private class whose procedure is the one that
//    routes messages to the objects; classes registered this way are
//    unregistered when the module that registered them is unloaded. One that
//    could not be (its window lived on in another thread) is taken back by the
//    next load of the module at the same address.
//  * One CWinApp object per module. In a DLL that links this library its
//    InitInstance runs when the library is loaded and its ExitInstance when it
//    is unloaded (dllmain.cpp supplies the module's DllMain).
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

class CWnd {
 public:
  CWnd() noexcept = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;
  // A window that still exists is detached and destroyed; see wnd.cpp.
  virtual ~CWnd();

  // Returns FALSE when PreCreateWindow refuses or CreateWindowExW fails.
  BOOL CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, int x, int y,
                int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu, LPVOID lpParam = nullptr);
  virtual BOOL DestroyWindow();
  // Parts the object from its window: from now on the window's messages do
  // not reach the object. A window of this thread is destroyed; one of another
  // thread goes to the default window procedure (so that nothing of this
  // module is called for it any more) and is closed by its own thread. Then
  // waits, within a bound, while another thread is still inside a handler of
  // this object. False when that wait ran out: the object must stay allocated.
  bool DetachWindow() noexcept;

  HWND GetSafeHwnd() const noexcept { return m_hWnd; }
  BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
  BOOL UpdateWindow() { return ::UpdateWindow(m_hWnd); }
  BOOL SetWindowPos(HWND hWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags) {
    return ::SetWindowPos(m_hWnd, hWndInsertAfter, x, y, cx, cy, nFlags);
  }
  void GetWindowRect(LPRECT lpRect) const { ::GetWindowRect(m_hWnd, lpRect); }
  void GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }

  // A private window class (styles, cursor, background, icon) whose window
  // procedure routes to the objects; the same arguments give the same class.
  // Returns the class name, or nullptr when registration fails.
  static LPCWSTR RegisterWndClass(UINT nClassStyle, HCURSOR hCursor = nullptr, HBRUSH hbrBackground = nullptr,
                                  HICON hIcon = nullptr);
  // The procedure of such classes.
  static LRESULT CALLBACK StaticWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

  HWND m_hWnd = nullptr;

 protected:
  // May change the creation parameters; FALSE refuses the creation.
  virtual BOOL PreCreateWindow(CREATESTRUCTW& cs);
  // Every message of the attached window.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // After the window has gone (WM_NCDESTROY handled, m_hWnd cleared).
  virtual void PostNcDestroy() {}
  // Default processing of the message being handled.
  LRESULT Default();

 private:
  std::atomic<int> m_dispatching{0};  // handlers of this object running now, on any thread
};

class CWinApp {
 public:
  CWinApp() noexcept;
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;
  virtual ~CWinApp();

  // FALSE fails the loading of the library.
  virtual BOOL InitInstance() { return TRUE; }
  virtual int ExitInstance() { return 0; }

  HINSTANCE m_hInstance = nullptr;
};

// The module's application object (nullptr when there is none) and the module
// that this code was linked into.
CWinApp* AfxGetApp() noexcept;
HINSTANCE AfxGetInstanceHandle() noexcept;

namespace hkb::framework {
// Called by the module's DllMain; exposed for modules that write their own.
BOOL ProcessAttach(HINSTANCE instance);
void ProcessDetach();
// Unregisters the classes of RegisterWndClass (part of ProcessDetach).
void UnregisterWndClasses();

// Deletes a window object after parting it from its window (CWnd::DetachWindow);
// an object that another thread's handler still uses is left allocated.
struct WndDeleter {
  void operator()(CWnd* wnd) const noexcept {
    if (wnd && wnd->DetachWindow()) delete wnd;
  }
};
template <class T>
using WndPtr = std::unique_ptr<T, WndDeleter>;
}  // namespace hkb::framework
