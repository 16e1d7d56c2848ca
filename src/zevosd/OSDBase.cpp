#include "OSDBase.h"

#include "osd_geometry.h"

namespace {

constexpr DWORD kExStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;
constexpr DWORD kStyle = WS_POPUP | WS_DISABLED | WS_CLIPSIBLINGS;
constexpr UINT kClassStyle = CS_DBLCLKS | CS_NOCLOSE;
constexpr UINT kPlaceFlags = SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE;

zevosd::WorkArea GetWorkArea() {
  RECT rc = {};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rc, 0);
  return {rc.left, rc.top, rc.right, rc.bottom};
}

}  // namespace

BOOL COSDBase::Create(const OSD_REQUEST* request) {
  LPCWSTR cls = RegisterWndClass(kClassStyle);
  if (!cls) return FALSE;
  return CreateEx(kExStyle, cls, L"", kStyle, 0, 0, 0, 0, nullptr, nullptr,
                  const_cast<OSD_REQUEST*>(request));
}

BOOL COSDBase::DestroyWindow() {
  if (m_hWnd) ::KillTimer(m_hWnd, kTimerId);
  return CWnd::DestroyWindow();
}

BOOL COSDBase::PreCreateWindow(CREATESTRUCTW& cs) {
  const auto* request = static_cast<const OSD_REQUEST*>(cs.lpCreateParams);
  if (!request || !zevosd::IsDisplayable(request->nPosition, request->nHeightDiv)) return FALSE;

  m_version = request->dwVersion;
  m_kind = request->dwKind;
  m_color = request->crColor;
  m_position = request->nPosition;
  m_duration = request->nDuration;
  m_heightDiv = request->nHeightDiv;
  m_widthDiv = zevosd::EffectiveWidthDivisor(request->nWidthDiv);

  const zevosd::ScreenSize screen{::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  const zevosd::Size size = zevosd::InitialSize(m_position, m_heightDiv, m_widthDiv, GetWorkArea(), screen);
  cs.cx = size.cx;
  cs.cy = size.cy;

  m_brush.reset(::CreateSolidBrush(m_color));
  if (!m_brush) return FALSE;
  return CWnd::PreCreateWindow(cs);
}

LRESULT COSDBase::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: return OnCreate(reinterpret_cast<LPCREATESTRUCTW>(lParam));
    case WM_ERASEBKGND: {
      RECT rc;
      GetClientRect(&rc);
      ::FillRect(reinterpret_cast<HDC>(wParam), &rc, m_brush.get());
      return TRUE;
    }
    case WM_NCHITTEST: return HTCLIENT;
    case WM_DISPLAYCHANGE: DestroyWindow(); return 0;
    case WM_TIMER: DestroyWindow(); return Default();
    default: return CWnd::WindowProc(message, wParam, lParam);
  }
}

int COSDBase::OnCreate(LPCREATESTRUCTW) {
  ::SetTimer(m_hWnd, kTimerId, m_duration, nullptr);
  return static_cast<int>(Default());
}

void COSDBase::Place() {
  RECT rc;
  GetWindowRect(&rc);
  const zevosd::Point at = zevosd::Placement(m_position, {rc.right - rc.left, rc.bottom - rc.top},
                                             GetWorkArea(), ::GetSystemMetrics(SM_CXSCREEN));
  SetWindowPos(nullptr, at.x, at.y, 0, 0, kPlaceFlags);
}
