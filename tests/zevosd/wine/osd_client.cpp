#include "osd_client.h"

#include <cstring>
#include <cwchar>

namespace osdtest {

namespace {

// What the wide and the ANSI request share: a bold font, ten seconds, a
// tenth of the screen high.
template <class R>
R Common(COLORREF color, UINT position) {
  R r = {};
  r.cbSize = sizeof r;
  r.crColor = color;
  r.nPosition = position;
  r.nDuration = 10000;
  r.nHeightDiv = 10;
  r.lf.lfWeight = FW_BOLD;
  r.lf.lfCharSet = DEFAULT_CHARSET;
  r.lf.lfQuality = ANTIALIASED_QUALITY;
  return r;
}

}  // namespace

OSD_REQUEST Request(const wchar_t* text, UINT position, COLORREF color) {
  OSD_REQUEST r = Common<OSD_REQUEST>(color, position);
  std::wcsncpy(r.lf.lfFaceName, kFace, LF_FACESIZE - 1);
  r.pszText = text;
  return r;
}

OSD_REQUESTA RequestA(const char* text, const char* face) {
  OSD_REQUESTA r = Common<OSD_REQUESTA>(RGB(255, 255, 0), OSD_POS_CENTER);
  std::strncpy(r.lf.lfFaceName, face, LF_FACESIZE - 1);
  r.pszText = text;
  return r;
}

std::vector<HWND> WindowsOf(HMODULE module) {
  struct Search {
    HMODULE module;
    std::vector<HWND> found;
  } search{module, {}};
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND wnd, LPARAM lp) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lp);
        if (reinterpret_cast<HMODULE>(::GetClassLongPtrW(wnd, GCLP_HMODULE)) == s->module)
          s->found.push_back(wnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

RECT WindowRect(HWND wnd) {
  RECT rc = {};
  ::GetWindowRect(wnd, &rc);
  return rc;
}
int Width(const RECT& rc) { return rc.right - rc.left; }
int Height(const RECT& rc) { return rc.bottom - rc.top; }

RECT WorkArea() {
  RECT rc = {};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rc, 0);
  return rc;
}

bool TimerMessageWaiting(HWND wnd) {
  MSG m;
  return hkbtest::WaitUntil([&] { return ::PeekMessageW(&m, wnd, WM_TIMER, WM_TIMER, PM_NOREMOVE) != FALSE; },
                            kPatience, [] { ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_TIMER); });
}

ScopedWorkArea::ScopedWorkArea(const RECT& area) {
  m_old = WorkArea();
  RECT copy = area;
  m_ok = ::SystemParametersInfoW(SPI_SETWORKAREA, 0, &copy, 0) != FALSE;
  const RECT now = WorkArea();
  m_ok = m_ok && ::EqualRect(&now, &area);
}

ScopedWorkArea::~ScopedWorkArea() { ::SystemParametersInfoW(SPI_SETWORKAREA, 0, &m_old, 0); }

SIZE MeasureText(const std::wstring& text, LOGFONTW lf, int charHeight, UINT extra) {
  hkb::UniqueMemDc dc(::CreateCompatibleDC(nullptr));
  lf.lfHeight = -charHeight;
  hkb::UniqueFont font(::CreateFontIndirectW(&lf));
  hkb::SelectObjectScope selected(dc.get(), font.get());
  RECT rc = {0, 0, 1, charHeight};
  ::DrawTextW(dc.get(), text.c_str(), -1, &rc, DT_CALCRECT | DT_SINGLELINE | DT_VCENTER | extra);
  return {rc.right - rc.left, rc.bottom - rc.top};
}

}  // namespace osdtest
