// The display library as a caller sees it, plus what the tests need to find
// and measure its window.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "ZEVOSD.h"
#include "hkbtest/harness.h"

namespace osdtest {

using namespace std::chrono_literals;

constexpr wchar_t kFace[] = L"DejaVu Sans";
// Ceiling of every wait for something that is expected to happen.
constexpr std::chrono::milliseconds kPatience = 30s;

// ZEVOSD.dll from the install-shaped output, loaded with LoadLibraryW.
struct OsdLibrary {
  hkbtest::Library lib{hkbtest::DistFile(L"Program Files\\ZEVHKB\\ZEVOSD.dll")};
  PFN_OnScreen_Display show = lib.proc<PFN_OnScreen_Display>("OnScreen_Display");
  PFN_OnScreen_DisplayA showA = lib.proc<PFN_OnScreen_DisplayA>("OnScreen_DisplayA");
  bool ok() const { return lib && show && showA; }
};

// A valid wide request: yellow text, centre, 10 s, a tenth of the work-area height.
OSD_REQUEST Request(const wchar_t* text, UINT position = OSD_POS_CENTER, COLORREF color = RGB(255, 255, 0));
OSD_REQUESTA RequestA(const char* text, const char* face = "DejaVu Sans");

// This thread's windows whose class the given module registered.
std::vector<HWND> WindowsOf(HMODULE module);

RECT WindowRect(HWND wnd);
int Width(const RECT& rc);
int Height(const RECT& rc);

// Sets the work area for the scope and restores the previous one.
class ScopedWorkArea {
 public:
  explicit ScopedWorkArea(const RECT& area);
  ~ScopedWorkArea();
  ScopedWorkArea(const ScopedWorkArea&) = delete;
  ScopedWorkArea& operator=(const ScopedWorkArea&) = delete;
  bool ok() const { return m_ok; }

 private:
  RECT m_old{};
  bool m_ok = false;
};

RECT WorkArea();

// Waits, without dispatching anything, until the window's timer message is
// waiting in this thread's queue; false when it does not come in time.
bool TimerMessageWaiting(HWND wnd);

// The one-line extent of `text` in the font `lf` with a character height of
// `charHeight`, as GDI measures it (DT_CALCRECT, DT_SINGLELINE, plus `extra`).
SIZE MeasureText(const std::wstring& text, LOGFONTW lf, int charHeight, UINT extra = DT_NOPREFIX);

}  // namespace osdtest
