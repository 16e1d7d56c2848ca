// Time from OnScreen_Display to a shown window, against a bare window of the
// same size created and shown in the same run. Not a test: run by hand.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "osd_client.h"

using namespace osdtest;

namespace {

double Now() {
  static const double freq = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER t;
  ::QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1e6 / freq;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

LRESULT CALLBACK BareProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  return ::DefWindowProcW(wnd, msg, wp, lp);
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

  auto bareWindow = [&] {
    return ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP, rc.left,
                             rc.top, rc.right - rc.left, rc.bottom - rc.top, nullptr, nullptr, wc.hInstance,
                             nullptr);
  };
  std::vector<double> osdTimes, bareTimes, shapedTimes;
  for (int i = 0; i < rounds; ++i) {
    // The previous display goes outside the timing (a display change removes it).
    for (HWND old : WindowsOf(osd.lib.get())) ::SendMessageW(old, WM_DISPLAYCHANGE, 32, 0);
    double t0 = Now();
    osd.show(&r);  // returns with the window shown and painted
    osdTimes.push_back(Now() - t0);

    t0 = Now();
    HWND bare = bareWindow();
    ::ShowWindow(bare, SW_SHOWNA);
    bareTimes.push_back(Now() - t0);
    ::DestroyWindow(bare);

    // For scale: the same window given the display's outline and painted.
    t0 = Now();
    HWND shaped = bareWindow();
    HRGN copy = ::CreateRectRgn(0, 0, 0, 0);
    ::CombineRgn(copy, shape.get(), nullptr, RGN_COPY);
    ::SetWindowRgn(shaped, copy, FALSE);
    ::ShowWindow(shaped, SW_SHOWNA);
    ::UpdateWindow(shaped);
    shapedTimes.push_back(Now() - t0);
    ::DestroyWindow(shaped);

    MSG m;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&m);
  }
  const double o = Median(osdTimes);
  const double b = Median(bareTimes);
  std::printf("window %ldx%ld, %d rounds\n", rc.right - rc.left, rc.bottom - rc.top, rounds);
  std::printf("OnScreen_Display to shown: median %.1f us\n", o);
  std::printf("bare CreateWindowExW + ShowWindow: median %.1f us\n", b);
  std::printf("ratio: %.2f\n", o / b);
  std::printf(
      "for scale, bare window with the same outline, shown and painted: median %.1f us (ratio %.2f)\n",
      Median(shapedTimes), Median(shapedTimes) / b);
  return 0;
}
