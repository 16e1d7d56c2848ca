// ZEVOSD.dll driven through its exports, as an outside caller does.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "osd_client.h"

using namespace std::chrono_literals;
using namespace osdtest;

namespace {

class Osd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(osd.ok()) << "ZEVOSD.dll: load error " << osd.lib.error();
    ASSERT_TRUE(Windows().empty());
  }
  std::vector<HWND> Windows() const { return WindowsOf(osd.lib.get()); }
  // Shows a display that must come up, and returns its window.
  HWND ShowOne(const OSD_REQUEST& r) {
    EXPECT_EQ(osd.show(&r), 1);
    const std::vector<HWND> found = Windows();
    EXPECT_EQ(found.size(), 1u);
    return found.empty() ? nullptr : found.front();
  }
  OsdLibrary osd;
};

TEST_F(Osd, TheWindowIsAShownTopMostDisabledToolPopupThatNeverActivates) {
  const OSD_REQUEST r = Request(L"Volume 10");
  const HWND wnd = ShowOne(r);
  ASSERT_NE(wnd, nullptr);

  const DWORD style = static_cast<DWORD>(::GetWindowLongW(wnd, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(::GetWindowLongW(wnd, GWL_EXSTYLE));
  EXPECT_EQ(style & (WS_POPUP | WS_DISABLED | WS_CLIPSIBLINGS | WS_VISIBLE),
            static_cast<DWORD>(WS_POPUP | WS_DISABLED | WS_CLIPSIBLINGS | WS_VISIBLE))
      << std::hex << style;
  EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | WS_CHILD), 0u) << std::hex << style;
  EXPECT_EQ(exStyle & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW),
            static_cast<DWORD>(WS_EX_TOPMOST | WS_EX_TOOLWINDOW))
      << std::hex << exStyle;
  EXPECT_EQ(exStyle & WS_EX_APPWINDOW, 0u);
  EXPECT_FALSE(::IsWindowEnabled(wnd));
  EXPECT_EQ(::GetWindow(wnd, GW_OWNER), nullptr);
  EXPECT_EQ(::GetWindowTextLengthW(wnd), 0);

  // A private class: double clicks, no close item, no cursor, background or icon.
  EXPECT_EQ(::GetClassLongW(wnd, GCL_STYLE), static_cast<DWORD>(CS_DBLCLKS | CS_NOCLOSE));
  EXPECT_EQ(::GetClassLongPtrW(wnd, GCLP_HCURSOR), 0);
  EXPECT_EQ(::GetClassLongPtrW(wnd, GCLP_HBRBACKGROUND), 0);
  EXPECT_EQ(::GetClassLongPtrW(wnd, GCLP_HICON), 0);

  const RECT rc = WindowRect(wnd);
  EXPECT_EQ(::SendMessageW(wnd, WM_NCHITTEST, 0, MAKELPARAM(rc.left + 1, rc.top + 1)), HTCLIENT);
  hkbtest::PumpFor(100ms);
  EXPECT_NE(::GetForegroundWindow(), wnd);
  EXPECT_NE(::GetActiveWindow(), wnd);
}

// What a request does to a display that is already showing.
enum class Outcome { PreviousStays, Replaced, NoDisplay };

struct WideCase {
  const char* name;
  bool nullRecord;
  void (*edit)(OSD_REQUEST&);
  int result;
  Outcome outcome;
};

const WideCase kWideCases[] = {
    {"null record", true, [](OSD_REQUEST&) {}, 0, Outcome::PreviousStays},
    {"version 1", false, [](OSD_REQUEST& r) { r.dwVersion = 1; }, 0, Outcome::PreviousStays},
    {"version 0xFFFFFFFF", false, [](OSD_REQUEST& r) { r.dwVersion = 0xFFFFFFFFu; }, 0,
     Outcome::PreviousStays},
    {"height divisor 0", false, [](OSD_REQUEST& r) { r.nHeightDiv = 0; }, 0, Outcome::NoDisplay},
    {"position 9", false, [](OSD_REQUEST& r) { r.nPosition = 9; }, 0, Outcome::NoDisplay},
    {"position 0xFFFFFFFF", false, [](OSD_REQUEST& r) { r.nPosition = 0xFFFFFFFFu; }, 0, Outcome::NoDisplay},
    {"position 8", false, [](OSD_REQUEST& r) { r.nPosition = 8; }, 1, Outcome::Replaced},
    {"null text", false, [](OSD_REQUEST& r) { r.pszText = nullptr; }, 1, Outcome::Replaced},
    {"cbSize 0", false, [](OSD_REQUEST& r) { r.cbSize = 0; }, 1, Outcome::Replaced},
    {"cbSize 0xFFFFFFFF", false, [](OSD_REQUEST& r) { r.cbSize = 0xFFFFFFFFu; }, 1, Outcome::Replaced},
    {"width divisor 0", false, [](OSD_REQUEST& r) { r.nWidthDiv = 0; }, 1, Outcome::Replaced},
    {"duration 0", false, [](OSD_REQUEST& r) { r.nDuration = 0; }, 1, Outcome::Replaced},
    {"unknown face", false, [](OSD_REQUEST& r) { std::wcscpy(r.lf.lfFaceName, L"No Such Face 123"); }, 1,
     Outcome::Replaced},
};

struct AnsiCase {
  const char* name;
  bool nullRecord;
  void (*edit)(OSD_REQUESTA&);
  int result;
  Outcome outcome;
};

const AnsiCase kAnsiCases[] = {
    {"null record", true, [](OSD_REQUESTA&) {}, 0, Outcome::PreviousStays},
    {"version 1", false, [](OSD_REQUESTA& r) { r.dwVersion = 1; }, 0, Outcome::PreviousStays},
    {"empty text", false, [](OSD_REQUESTA& r) { r.pszText = ""; }, 0, Outcome::PreviousStays},
    {"null text", false, [](OSD_REQUESTA& r) { r.pszText = nullptr; }, 0, Outcome::PreviousStays},
    {"empty face name", false, [](OSD_REQUESTA& r) { std::memset(r.lf.lfFaceName, 0, LF_FACESIZE); }, 0,
     Outcome::PreviousStays},
    {"face name of 31 characters", false,
     [](OSD_REQUESTA& r) { std::strcpy(r.lf.lfFaceName, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcde"); }, 1,
     Outcome::Replaced},
    {"face name of 32 characters", false,
     [](OSD_REQUESTA& r) { std::memcpy(r.lf.lfFaceName, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef", LF_FACESIZE); },
     0, Outcome::PreviousStays},
    {"cbSize 0", false, [](OSD_REQUESTA& r) { r.cbSize = 0; }, 1, Outcome::Replaced},
    {"height divisor 0", false, [](OSD_REQUESTA& r) { r.nHeightDiv = 0; }, 0, Outcome::NoDisplay},
    {"position 9", false, [](OSD_REQUESTA& r) { r.nPosition = 9; }, 0, Outcome::NoDisplay},
    {"one character", false, [](OSD_REQUESTA& r) { r.pszText = "x"; }, 1, Outcome::Replaced},
};

void CheckOutcome(const std::vector<HWND>& after, HWND previous, Outcome outcome) {
  switch (outcome) {
    case Outcome::PreviousStays:
      EXPECT_TRUE(::IsWindow(previous));
      EXPECT_TRUE(::IsWindowVisible(previous));
      EXPECT_EQ(after, std::vector<HWND>{previous});
      break;
    case Outcome::Replaced:
      EXPECT_FALSE(::IsWindow(previous));
      ASSERT_EQ(after.size(), 1u);
      EXPECT_NE(after[0], previous);
      EXPECT_TRUE(::IsWindowVisible(after[0]));
      break;
    case Outcome::NoDisplay:
      EXPECT_FALSE(::IsWindow(previous));
      EXPECT_TRUE(after.empty());
      break;
  }
}

TEST_F(Osd, WideRequestResults) {
  for (const WideCase& c : kWideCases) {
    SCOPED_TRACE(c.name);
    const OSD_REQUEST first = Request(L"previous");
    const HWND previous = ShowOne(first);
    ASSERT_NE(previous, nullptr);
    OSD_REQUEST r = Request(L"next");
    c.edit(r);
    EXPECT_EQ(osd.show(c.nullRecord ? nullptr : &r), c.result);
    CheckOutcome(Windows(), previous, c.outcome);
    hkbtest::PumpFor(0ms);
  }
}

TEST_F(Osd, AnsiRequestResults) {
  for (const AnsiCase& c : kAnsiCases) {
    SCOPED_TRACE(c.name);
    const OSD_REQUEST first = Request(L"previous");
    const HWND previous = ShowOne(first);
    ASSERT_NE(previous, nullptr);
    OSD_REQUESTA r = RequestA("next");
    c.edit(r);
    EXPECT_EQ(osd.showA(c.nullRecord ? nullptr : &r), c.result);
    CheckOutcome(Windows(), previous, c.outcome);
    hkbtest::PumpFor(0ms);
  }
}

TEST_F(Osd, WindowRectangleAtTheNinePositions) {
  const RECT work = {100, 60, 1180, 964};  // 1080 x 904: taskbars left, top and right
  ScopedWorkArea area(work);
  ASSERT_TRUE(area.ok()) << "SPI_SETWORKAREA did not take";
  const int sx = ::GetSystemMetrics(SM_CXSCREEN);
  const int sy = ::GetSystemMetrics(SM_CYSCREEN);
  ASSERT_GT(sy, 904);  // positions 2 and 7 then differ in height
  const int workW = work.right - work.left;
  const int workH = work.bottom - work.top;
  constexpr UINT kHeightDiv = 8;

  const std::wstring text = L"Brightness 7";
  for (UINT pos = 0; pos <= 8; ++pos) {
    SCOPED_TRACE("position " + std::to_string(pos));
    OSD_REQUEST r = Request(text.c_str(), pos, RGB(0x40, 0xE0, 0xFF));
    r.nHeightDiv = kHeightDiv;
    const HWND wnd = ShowOne(r);
    ASSERT_NE(wnd, nullptr);
    const bool screenRule = pos == 2 || pos == 7;
    const int charHeight = (screenRule ? sy : workH) / static_cast<int>(kHeightDiv);
    const SIZE ext = MeasureText(text, r.lf, charHeight);
    const int W = ext.cx;
    const int H = ext.cy;
    const int xs[9] = {0, (workW - W) / 2, sx - W,        0, (workW - W) / 2, work.right - W,
                       0, (sx - W) / 2,    work.right - W};
    const int ys[9] = {0,
                       0,
                       0,
                       (workH - H) / 2,
                       (workH - H) / 2,
                       (workH - H) / 2,
                       work.bottom - H,
                       work.bottom - H,
                       work.bottom - H};
    const RECT got = WindowRect(wnd);
    EXPECT_EQ(got.left, xs[pos]);
    EXPECT_EQ(got.top, ys[pos]);
    EXPECT_EQ(Width(got), W) << "char height " << charHeight;
    EXPECT_EQ(Height(got), H) << "char height " << charHeight;
    if (pos == 0 || pos == 4 || pos == 8) {
      hkbtest::PumpFor(150ms);
      EXPECT_TRUE(hkbtest::SaveScreenshot(L"zevosd_position_" + std::to_wstring(pos) + L".bmp"));
    }
  }
}

// The window takes the measured width of the text, whatever the width divisor.
TEST_F(Osd, WidthAndHeightAreThoseOfTheMeasuredSingleLine) {
  struct Case {
    const char* name;
    const wchar_t* text;
    UINT widthDiv;
    const wchar_t* sameExtentAs;  // the text that must measure the same, single line
  } const cases[] = {
      {"plain", L"Mute", 0, L"Mute"},
      {"wide divisor", L"Mute", 1, L"Mute"},
      {"huge divisor", L"Mute", 100000, L"Mute"},
      {"long text", L"Wireless LAN: On / Bluetooth: Off", 0, L"Wireless LAN: On / Bluetooth: Off"},
      {"ampersands are shown", L"R&&D & Co", 0, L"R&&D & Co"},
      {"a line break does not start a line", L"Line one\nLine two", 0, L"Line one\nLine two"},
  };
  const RECT work = WorkArea();
  const int charHeight = (work.bottom - work.top) / 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OSD_REQUEST r = Request(c.text);
    r.nWidthDiv = c.widthDiv;
    const HWND wnd = ShowOne(r);
    ASSERT_NE(wnd, nullptr);
    const SIZE ext = MeasureText(c.sameExtentAs, r.lf, charHeight);
    const RECT got = WindowRect(wnd);
    EXPECT_EQ(Width(got), ext.cx);
    EXPECT_EQ(Height(got), ext.cy);
  }
  // The two layout rules above are not vacuous in this font.
  LOGFONTW lf = Request(L"").lf;
  EXPECT_NE(MeasureText(L"R&&D & Co", lf, charHeight).cx, MeasureText(L"R&&D & Co", lf, charHeight, 0).cx);
  EXPECT_GT(MeasureText(L"Line one\nLine two", lf, charHeight).cx,
            MeasureText(L"Line one", lf, charHeight).cx);
}

TEST_F(Osd, FontFieldsShapeTheTextButHeightKindAndBarFieldsDoNot) {
  const OSD_REQUEST base = Request(L"Eco mode: On");
  const RECT baseRc = WindowRect(ShowOne(base));
  ASSERT_GT(Width(baseRc), 0);

  struct Case {
    const char* name;
    void (*edit)(OSD_REQUEST&);
    bool sameSize;
  } const cases[] = {
      {"lfHeight 5", [](OSD_REQUEST& r) { r.lf.lfHeight = 5; }, true},
      {"lfHeight -300", [](OSD_REQUEST& r) { r.lf.lfHeight = -300; }, true},
      {"kind 7", [](OSD_REQUEST& r) { r.dwKind = 7; }, true},
      {"level bar fields",
       [](OSD_REQUEST& r) { r.nBarMax = 10, r.nBarValue = 7, r.nBarSteps = 10, r.nBarGap = 20; }, true},
      {"colour", [](OSD_REQUEST& r) { r.crColor = RGB(1, 2, 3); }, true},
      {"normal weight", [](OSD_REQUEST& r) { r.lf.lfWeight = FW_NORMAL; }, false},
      {"monospaced face", [](OSD_REQUEST& r) { std::wcscpy(r.lf.lfFaceName, L"DejaVu Sans Mono"); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OSD_REQUEST r = base;
    c.edit(r);
    const HWND wnd = ShowOne(r);
    ASSERT_NE(wnd, nullptr);
    const RECT rc = WindowRect(wnd);
    if (c.sameSize) {
      EXPECT_TRUE(::EqualRect(&rc, &baseRc));
    } else {
      EXPECT_NE(Width(rc), Width(baseRc));
    }
  }
}

TEST_F(Osd, AnsiRequestShowsTheSameAsTheWideOne) {
  OSD_REQUESTA a = RequestA("Touch pad: Off");
  a.crColor = RGB(0, 255, 0);
  a.nPosition = OSD_POS_TOP_CENTER;
  a.lf.lfItalic = TRUE;
  a.lf.lfHeight = 77;
  ASSERT_EQ(osd.showA(&a), 1);
  std::vector<HWND> found = Windows();
  ASSERT_EQ(found.size(), 1u);
  const RECT ansiRc = WindowRect(found[0]);

  OSD_REQUEST w = Request(L"Touch pad: Off", OSD_POS_TOP_CENTER, RGB(0, 255, 0));
  w.lf.lfItalic = TRUE;
  const RECT wideRc = WindowRect(ShowOne(w));
  EXPECT_TRUE(::EqualRect(&ansiRc, &wideRc));
  EXPECT_GT(Width(wideRc), 0);
}

// Screen pixels: the colour inside the text outline, the screen beneath elsewhere.
TEST_F(Osd, OnlyTheTextOutlineShowsAndItIsInTheRequestColour) {
  const COLORREF colour = RGB(255, 40, 40);
  OSD_REQUEST r = Request(L"Airplane: On", OSD_POS_CENTER, colour);
  r.nHeightDiv = 7;
  const HWND wnd = ShowOne(r);
  ASSERT_NE(wnd, nullptr);

  hkb::UniqueRegion rgn(::CreateRectRgn(0, 0, 0, 0));
  EXPECT_EQ(::GetWindowRgn(wnd, rgn.get()), COMPLEXREGION);
  RECT box = {};
  ::GetRgnBox(rgn.get(), &box);
  EXPECT_FALSE(::IsRectEmpty(&box));
  const RECT rc = WindowRect(wnd);
  const RECT screenRc = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  RECT onScreen = {};
  ASSERT_TRUE(::IntersectRect(&onScreen, &rc, &screenRc));
  ASSERT_TRUE(::EqualRect(&onScreen, &rc)) << "the display must lie on the screen for this check";

  hkb::WindowDc screen(nullptr);
  // The fill has reached the screen once a point inside a glyph has the colour.
  POINT glyph = {-1, -1};
  for (int y = 0; y < Height(rc) && glyph.x < 0; ++y) {
    for (int x = 0; x < Width(rc) && glyph.x < 0; ++x) {
      if (::PtInRegion(rgn.get(), x, y)) glyph = {x, y};
    }
  }
  ASSERT_GE(glyph.x, 0);
  EXPECT_TRUE(hkbtest::PumpUntil(
      [&] { return ::GetPixel(screen.get(), rc.left + glyph.x, rc.top + glyph.y) == colour; }, kPatience));
  int inside = 0, insideMatch = 0, outside = 0, outsideMatch = 0;
  for (int y = 0; y < Height(rc); y += 2) {
    for (int x = 0; x < Width(rc); x += 2) {
      const COLORREF px = ::GetPixel(screen.get(), rc.left + x, rc.top + y);
      if (::PtInRegion(rgn.get(), x, y)) {
        ++inside;
        insideMatch += px == colour;
      } else {
        ++outside;
        outsideMatch += px == colour;
      }
    }
  }
  std::printf(
      "window %dx%d; sampled %d pixels inside the outline (%d in colour), %d outside (%d in colour)\n",
      Width(rc), Height(rc), inside, insideMatch, outside, outsideMatch);
  EXPECT_GT(inside, 100);
  EXPECT_GT(outside, inside);  // letters cover less than their box
  EXPECT_EQ(insideMatch, inside);
  EXPECT_EQ(outsideMatch, 0);
  EXPECT_TRUE(hkbtest::SaveScreenshot(L"zevosd_colour_red.bmp"));
}

// Clicks at a point of the screen; returns the mouse-button messages that this
// thread's windows received, by window.
std::vector<std::pair<HWND, UINT>> ClickAt(POINT pt) {
  const int sx = ::GetSystemMetrics(SM_CXSCREEN), sy = ::GetSystemMetrics(SM_CYSCREEN);
  INPUT in[3] = {};
  for (INPUT& i : in) {
    i.type = INPUT_MOUSE;
    i.mi.dx = MulDiv(pt.x, 65535, sx - 1);
    i.mi.dy = MulDiv(pt.y, 65535, sy - 1);
  }
  in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  in[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
  in[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
  ::SendInput(3, in, sizeof(INPUT));
  std::vector<std::pair<HWND, UINT>> got;
  const ULONGLONG end = ::GetTickCount64() + 300;
  while (::GetTickCount64() < end) {
    MSG m;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message >= WM_LBUTTONDOWN && m.message <= WM_LBUTTONDBLCLK) got.push_back({m.hwnd, m.message});
      ::DispatchMessageW(&m);
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return got;
}

TEST_F(Osd, AClickNeitherActivatesItNorReachesIt) {
  OSD_REQUEST r = Request(L"IIIIIIII", OSD_POS_CENTER);
  r.nHeightDiv = 3;  // broad strokes, easy to hit
  const HWND wnd = ShowOne(r);
  ASSERT_NE(wnd, nullptr);
  const RECT rc = WindowRect(wnd);
  hkb::UniqueRegion rgn(::CreateRectRgn(0, 0, 0, 0));
  ASSERT_EQ(::GetWindowRgn(wnd, rgn.get()), COMPLEXREGION);
  POINT hit = {-1, -1};
  for (int y = Height(rc) / 3; y < Height(rc) && hit.x < 0; ++y) {
    for (int x = 0; x < Width(rc) && hit.x < 0; ++x) {
      if (::PtInRegion(rgn.get(), x, y) && ::PtInRegion(rgn.get(), x + 3, y) &&
          ::PtInRegion(rgn.get(), x, y + 3)) {
        hit = {rc.left + x + 1, rc.top + y + 1};
      }
    }
  }
  ASSERT_GE(hit.x, 0) << "no point inside a glyph";

  // The same click on an ordinary window of this thread does arrive.
  {
    hkbtest::RecordingWindow plain(L"OsdTestPlain", L"plain");
    ::SetWindowPos(plain.hwnd(), HWND_TOPMOST, rc.left, rc.top, Width(rc), Height(rc), SWP_SHOWWINDOW);
    const auto got = ClickAt(hit);
    EXPECT_NE(
        std::find(got.begin(), got.end(), std::make_pair(plain.hwnd(), static_cast<UINT>(WM_LBUTTONDOWN))),
        got.end())
        << "the injected click did not reach an ordinary window";
  }
  const auto got = ClickAt(hit);
  for (const auto& m : got) EXPECT_NE(m.first, wnd) << "message 0x" << std::hex << m.second;
  EXPECT_TRUE(::IsWindowVisible(wnd));
  EXPECT_NE(::GetForegroundWindow(), wnd);
  EXPECT_NE(::GetActiveWindow(), wnd);
}

TEST_F(Osd, EmptyTextIsAcceptedAndInvisible) {
  const wchar_t* const texts[] = {L"", nullptr};
  for (const wchar_t* text : texts) {
    SCOPED_TRACE(text ? "empty text" : "null text");
    const OSD_REQUEST r = Request(text);
    const HWND wnd = ShowOne(r);
    ASSERT_NE(wnd, nullptr);
    const RECT rc = WindowRect(wnd);
    hkb::UniqueRegion rgn(::CreateRectRgn(0, 0, 0, 0));
    const int type = ::GetWindowRgn(wnd, rgn.get());
    RECT box = {};
    ::GetRgnBox(rgn.get(), &box);
    std::printf("empty display: %dx%d, region type %d, box %ld,%ld-%ld,%ld\n", Width(rc), Height(rc), type,
                box.left, box.top, box.right, box.bottom);
    // Nothing of it can be seen: no area, or a region without area.
    EXPECT_TRUE(Width(rc) == 0 || Height(rc) == 0 || type == NULLREGION) << "region type " << type;
    // Its timer still runs.
    EXPECT_TRUE(::IsWindowVisible(wnd));
  }
}

TEST_F(Osd, GoesAwayAfterItsDurationOnlyWhileTheThreadPumps) {
  OSD_REQUEST r = Request(L"Volume 3");
  r.nDuration = 400;
  const ULONGLONG start = ::GetTickCount64();
  const HWND wnd = ShowOne(r);
  ASSERT_NE(wnd, nullptr);
  // The timer message needs the caller's message loop: once it is due, and
  // before it is dispatched, the display is still there.
  ASSERT_TRUE(TimerMessageWaiting(wnd)) << "the display's timer never came due";
  EXPECT_GE(::GetTickCount64() - start, 400u);
  EXPECT_TRUE(::IsWindow(wnd));
  ASSERT_TRUE(hkbtest::PumpUntil([&] { return !::IsWindow(wnd); }, kPatience));
  EXPECT_TRUE(Windows().empty());

  // Pumping from the start: gone after about the duration, not before.
  const ULONGLONG start2 = ::GetTickCount64();
  const HWND wnd2 = ShowOne(r);
  ASSERT_NE(wnd2, nullptr);
  ASSERT_TRUE(hkbtest::PumpUntil([&] { return !::IsWindow(wnd2); }, kPatience));
  const ULONGLONG took = ::GetTickCount64() - start2;
  std::printf("display of 400 ms was removed after %llu ms\n", took);
  EXPECT_GE(took, 390u);

  // A new request after the timed removal works as usual.
  const HWND wnd3 = ShowOne(Request(L"again"));
  EXPECT_NE(wnd3, nullptr);
}

TEST_F(Osd, ZeroDurationGoesAtTheFirstTimerMessage) {
  OSD_REQUEST r = Request(L"blink");
  r.nDuration = 0;
  const HWND wnd = ShowOne(r);
  ASSERT_NE(wnd, nullptr);
  EXPECT_TRUE(hkbtest::PumpUntil([&] { return !::IsWindow(wnd); }, kPatience));
}

// An empty text shows nothing, but its window and timer are there all the
// same: it goes when its time is up, not before.
TEST_F(Osd, AnEmptyTextDisplayGoesAfterItsDuration) {
  for (const wchar_t* text : {L"", static_cast<const wchar_t*>(nullptr)}) {
    SCOPED_TRACE(text ? "empty text" : "null text");
    OSD_REQUEST r = Request(text);
    r.nDuration = 300;
    const ULONGLONG start = ::GetTickCount64();
    const HWND wnd = ShowOne(r);
    ASSERT_NE(wnd, nullptr);
    ASSERT_TRUE(hkbtest::PumpUntil([&] { return !::IsWindow(wnd); }, kPatience));
    EXPECT_GE(::GetTickCount64() - start, 290u);
    EXPECT_TRUE(Windows().empty());
  }
}

TEST_F(Osd, ADisplayChangeRemovesIt) {
  const HWND wnd = ShowOne(Request(L"Rotation: 90"));
  ASSERT_NE(wnd, nullptr);
  EXPECT_EQ(::SendMessageW(wnd, WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 1280)), 0);
  EXPECT_FALSE(::IsWindow(wnd));
  hkbtest::PumpFor(100ms);
  EXPECT_TRUE(Windows().empty());
  EXPECT_NE(ShowOne(Request(L"after")), nullptr);
}

TEST_F(Osd, ASecondRequestReplacesTheFirstAtOnce) {
  const HWND first = ShowOne(Request(L"first", OSD_POS_TOP_LEFT));
  ASSERT_NE(first, nullptr);
  const HWND second = ShowOne(Request(L"second", OSD_POS_BOTTOM_RIGHT));
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(::IsWindow(first));
  EXPECT_NE(first, second);
  EXPECT_EQ(Windows(), std::vector<HWND>{second});
}

TEST_F(Osd, UnloadingTheLibraryRemovesTheDisplay) {
  const HWND wnd = ShowOne(Request(L"unload"));
  ASSERT_NE(wnd, nullptr);
  osd.lib.unload();
  EXPECT_EQ(::GetModuleHandleW(L"ZEVOSD.dll"), nullptr);
  EXPECT_FALSE(::IsWindow(wnd));
  hkbtest::PumpFor(100ms);  // nothing of the library may be called any more

  // Loaded again, it registers its class again and shows as before.
  OsdLibrary again;
  ASSERT_TRUE(again.ok());
  const OSD_REQUEST r = Request(L"loaded again");
  EXPECT_EQ(again.show(&r), 1);
  EXPECT_EQ(WindowsOf(again.lib.get()).size(), 1u);
}

TEST_F(Osd, UnloadingAfterTheTimedRemovalIsClean) {
  OSD_REQUEST r = Request(L"short");
  r.nDuration = 50;
  const HWND wnd = ShowOne(r);
  ASSERT_TRUE(hkbtest::PumpUntil([&] { return !::IsWindow(wnd); }, kPatience));
  osd.lib.unload();
  EXPECT_EQ(::GetModuleHandleW(L"ZEVOSD.dll"), nullptr);
}

TEST_F(Osd, JapaneseTextWithACjkFont) {
  struct Case {
    const wchar_t* face;
    const wchar_t* text;
    COLORREF colour;
    UINT position;
    const wchar_t* shot;
  } const cases[] = {
      {L"MS UI Gothic", L"音量 ５ ／ 明るさ ８", RGB(255, 255, 255), OSD_POS_CENTER,
       L"zevosd_japanese_ms_ui_gothic.bmp"},
      {L"Noto Sans CJK JP", L"無線ＬＡＮ：オン", RGB(120, 255, 120), OSD_POS_BOTTOM_CENTER,
       L"zevosd_japanese_noto.bmp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(hkbtest::Utf8(c.face));
    OSD_REQUEST r = Request(c.text, c.position, c.colour);
    r.lf.lfCharSet = SHIFTJIS_CHARSET;
    std::wcscpy(r.lf.lfFaceName, c.face);
    const HWND wnd = ShowOne(r);
    ASSERT_NE(wnd, nullptr);
    hkb::UniqueRegion rgn(::CreateRectRgn(0, 0, 0, 0));
    EXPECT_EQ(::GetWindowRgn(wnd, rgn.get()), COMPLEXREGION);
    const int screenRuleHeight = ::GetSystemMetrics(SM_CYSCREEN);
    const RECT work = WorkArea();
    const int charHeight =
        (c.position == OSD_POS_BOTTOM_CENTER ? screenRuleHeight : work.bottom - work.top) / 10;
    const SIZE ext = MeasureText(c.text, r.lf, charHeight);
    EXPECT_EQ(Width(WindowRect(wnd)), ext.cx);
    // The CJK font has the glyphs: one ideograph is about as wide as it is high.
    EXPECT_GT(ext.cx, charHeight * 5);
    hkbtest::PumpFor(200ms);
    EXPECT_TRUE(hkbtest::SaveScreenshot(c.shot));
  }
}

}  // namespace
