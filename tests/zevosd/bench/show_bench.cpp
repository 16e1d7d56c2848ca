// Time from OnScreen_Display to a shown and painted window, against floors
// measured in the same run: a bare window of the same size created and shown;
// the same window given the display's outline (copied) and painted; and the
// exact platform calls a display must make, made bare: the brush, the hidden
// top-most window and, while it handles its WM_CREATE (where a display must
// shape and place itself), a memory device context with the request's font,
// the text measured and drawn into a path, the path made the window region,
// the resize and the placement and the timer; then the show without
// activation and the one paint that fills the window with the brush. The last
// is the floor: the copied outline leaves out the text shaping that every
// display must do. Like a display, the floor's window stays up until the next
// one takes its place (its removal is not timed): under Wine, creating a
// window while no other is up costs markedly more, so both paths are measured
// with the other's window up. Before each measurement the thread's pending
// messages are handled, so that no path pays for the windows of the one
// before. Not a test: run by hand.
#include <windows.h>

#include <algorithm>
#include <utility>
#include <cstdio>
#include <vector>

#include "osd_client.h"
#include "hkbtest/timing.h"

using namespace osdtest;

namespace {

HBRUSH s_fill = nullptr;  // the brush the exact floor's window paints with

// What the floor's window does in its WM_CREATE; null: nothing.
struct ShapeJob {
  const OSD_REQUEST* r;
  SIZE size;
  POINT at;
};
ShapeJob* s_job = nullptr;
void ShapeAndPlace(HWND wnd, const OSD_REQUEST& r, SIZE size, POINT at);

LRESULT CALLBACK BareProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CREATE && s_job) {
    ShapeAndPlace(wnd, *s_job->r, s_job->size, s_job->at);
    return 0;
  }
  if (msg == WM_ERASEBKGND && s_fill) {
    RECT rc;
    ::GetClientRect(wnd, &rc);
    ::FillRect(reinterpret_cast<HDC>(wp), &rc, s_fill);
    return TRUE;
  }
  if (msg == WM_NCHITTEST) return HTCLIENT;
  return ::DefWindowProcW(wnd, msg, wp, lp);
}

// The platform calls of one display, bare, for the request `r` whose initial
// window size is `size`; placed at `at` (as the library would place it). The
// shaping and placing happen in WM_CREATE.
HWND ExactDisplay(const wchar_t* cls, const OSD_REQUEST& r, SIZE size, POINT at) {
  s_fill = ::CreateSolidBrush(r.crColor);
  ShapeJob job{&r, size, at};
  s_job = &job;
  const HWND wnd =
      ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, cls, L"", WS_POPUP | WS_DISABLED | WS_CLIPSIBLINGS,
                        0, 0, size.cx, size.cy, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  s_job = nullptr;
  ::ShowWindow(wnd, SW_SHOWNA);
  ::UpdateWindow(wnd);
  return wnd;
}

// Shapes the window to the text, places it and starts its timer.
void ShapeAndPlace(HWND wnd, const OSD_REQUEST& r, SIZE size, POINT at) {
  RECT rc = {0, 0, size.cx, size.cy};
  LOGFONTW lf = r.lf;
  lf.lfHeight = rc.top - rc.bottom;
  const HDC dc = ::CreateCompatibleDC(nullptr);
  const HFONT font = ::CreateFontIndirectW(&lf);
  const HGDIOBJ old = ::SelectObject(dc, font);
  ::SetBkMode(dc, TRANSPARENT);
  ::BeginPath(dc);
  ::DrawTextW(dc, r.pszText, -1, &rc, DT_CALCRECT | DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER);
  ::SetWindowPos(wnd, nullptr, 0, 0, rc.right - rc.left, rc.bottom - rc.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
  ::DrawTextW(dc, r.pszText, -1, &rc, DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER);
  ::EndPath(dc);
  const HRGN region = ::PathToRegion(dc);
  ::SelectObject(dc, old);
  ::DeleteObject(font);
  ::DeleteDC(dc);
  ::SetWindowRgn(wnd, region, FALSE);
  ::SetWindowPos(wnd, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
  ::SetTimer(wnd, 100, r.nDuration, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
  OsdLibrary osd;
  if (!osd.ok()) {
    std::printf("ZEVOSD.dll not loaded (error %lu)\n", osd.lib.error());
    return 1;
  }
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &BareProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"OsdBenchBare";
  wc.style = CS_DBLCLKS | CS_NOCLOSE;
  ::RegisterClassExW(&wc);

  const OSD_REQUEST r = Request(L"Brightness 7", OSD_POS_BOTTOM_RIGHT);
  osd.show(&r);  // warm-up: class registration, font cache
  const std::vector<HWND> w = WindowsOf(osd.lib.get());
  RECT rc = {};
  hkb::UniqueRegion shape(::CreateRectRgn(0, 0, 0, 0));
  if (!w.empty()) {
    ::GetWindowRect(w.front(), &rc);
    ::GetWindowRgn(w.front(), shape.get());
  }
  // The size the library starts from (bottom right: work-area width / 30,
  // height / 10), and where it placed the display.
  RECT work = {};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const SIZE initial = {(work.right - work.left) / static_cast<LONG>(r.nWidthDiv ? r.nWidthDiv : 30),
                        (work.bottom - work.top) / static_cast<LONG>(r.nHeightDiv)};
  const POINT at = {rc.left, rc.top};

  auto bareWindow = [&] {
    return ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP, rc.left,
                             rc.top, rc.right - rc.left, rc.bottom - rc.top, nullptr, nullptr, wc.hInstance,
                             nullptr);
  };
  std::vector<double> osdTimes, bareTimes, shapedTimes, exactTimes;
  // Whatever the window system still has to say about the previous windows is
  // taken before each measurement, so that no path pays for another's.
  const auto drain = [] {
    MSG m;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&m);
  };
  const auto timeOsd = [&] {
    // The previous display goes outside the timing (a display change removes it).
    for (HWND old : WindowsOf(osd.lib.get())) ::SendMessageW(old, WM_DISPLAYCHANGE, 32, 0);
    drain();
    const double t0 = hkbtest::NowMs() * 1000.0;
    osd.show(&r);  // returns with the window shown and painted
    osdTimes.push_back(hkbtest::NowMs() * 1000.0 - t0);
  };
  // The floor's window and brush, up until the next floor measurement.
  HWND floorWnd = nullptr;
  HBRUSH floorFill = nullptr;
  const auto removeExact = [&] {
    if (!floorWnd) return;
    ::KillTimer(floorWnd, 100);
    ::DestroyWindow(floorWnd);
    ::DeleteObject(floorFill);
    floorWnd = nullptr;
  };
  const auto timeExact = [&] {
    removeExact();
    drain();
    const double t0 = hkbtest::NowMs() * 1000.0;
    floorWnd = ExactDisplay(wc.lpszClassName, r, initial, at);
    exactTimes.push_back(hkbtest::NowMs() * 1000.0 - t0);
    floorFill = std::exchange(s_fill, nullptr);
  };
  for (int i = 0; i < rounds; ++i) {
    // The display and its floor take turns at going first.
    if (i % 2 == 0) timeOsd();
    if (i % 2 == 1) timeExact();

    drain();
    double t0 = hkbtest::NowMs() * 1000.0;
    HWND bare = bareWindow();
    ::ShowWindow(bare, SW_SHOWNA);
    bareTimes.push_back(hkbtest::NowMs() * 1000.0 - t0);
    ::DestroyWindow(bare);

    // For scale: the same window given the display's outline and painted.
    drain();
    t0 = hkbtest::NowMs() * 1000.0;
    HWND shaped = bareWindow();
    HRGN copy = ::CreateRectRgn(0, 0, 0, 0);
    ::CombineRgn(copy, shape.get(), nullptr, RGN_COPY);
    ::SetWindowRgn(shaped, copy, FALSE);
    ::ShowWindow(shaped, SW_SHOWNA);
    ::UpdateWindow(shaped);
    shapedTimes.push_back(hkbtest::NowMs() * 1000.0 - t0);
    ::DestroyWindow(shaped);

    if (i % 2 == 0) timeExact();
    if (i % 2 == 1) timeOsd();
    drain();
  }
  removeExact();
  const double o = hkbtest::Median(osdTimes);
  const double b = hkbtest::Median(bareTimes);
  std::printf("window %ldx%ld, %d rounds\n", rc.right - rc.left, rc.bottom - rc.top, rounds);
  std::printf("OnScreen_Display to shown: median %.1f us\n", o);
  std::printf("bare CreateWindowExW + ShowWindow: median %.1f us\n", b);
  std::printf("ratio: %.2f\n", o / b);
  std::printf(
      "for scale, bare window with the same outline, shown and painted: median %.1f us (ratio %.2f)\n",
      hkbtest::Median(shapedTimes), hkbtest::Median(shapedTimes) / b);
  const double exact = hkbtest::Median(exactTimes);
  std::printf(
      "floor: the display's platform calls made bare: median %.1f us -> OnScreen_Display / floor = %.2f\n",
      exact, o / exact);
  // Rows for ./hkb bench: path|now|floor|unit|floor is
  std::printf("row: OnScreen_Display -> shown and painted|%.2f|%.2f|ms|the display's platform calls, bare\n",
              o / 1000, exact / 1000);
  std::printf("row:   same, against the copied outline|%.2f|%.2f|ms|shaped window, outline copied\n",
              o / 1000, hkbtest::Median(shapedTimes) / 1000);
  return 0;
}
