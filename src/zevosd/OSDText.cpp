#include "OSDText.h"

namespace {
constexpr UINT kMeasureFormat = DT_CALCRECT | DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER;
constexpr UINT kDrawFormat = DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER;
constexpr UINT kResizeFlags = SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE;
}  // namespace

COSDText::COSDText() noexcept : m_font() {}

int COSDText::OnCreate(LPCREATESTRUCTW createStruct) {
  const auto* request =
      createStruct ? static_cast<const OSD_REQUEST*>(createStruct->lpCreateParams) : nullptr;
  if (!request) return -1;

  if (request->pszText) {
    m_text.assign(request->pszText);
  } else {
    m_text.clear();
  }
  m_font = request->lf;
  m_font.lfFaceName[LF_FACESIZE - 1] = L'\0';  // a full face-name field is cut, not over-read

  const HRGN region = ShapeToText();
  if (region && !::SetWindowRgn(m_hWnd, region, FALSE)) ::DeleteObject(region);

  Place();
  return COSDBase::OnCreate(createStruct);
}

HRGN COSDText::ShapeToText() {
  RECT rc;
  GetWindowRect(&rc);
  HRGN region = nullptr;
  for (int attempts = kShapeAttempts;;) {
    hkb::UniqueMemDc dc(::CreateCompatibleDC(nullptr));
    m_font.lfHeight = rc.top - rc.bottom;  // negative: the character height is the rectangle height
    {
      hkb::UniqueFont font(::CreateFontIndirectW(&m_font));
      hkb::SelectObjectScope selected(dc.get(), font.get());
      ::SetBkMode(dc.get(), TRANSPARENT);
      ::BeginPath(dc.get());
      ::DrawTextW(dc.get(), m_text.c_str(), -1, &rc, kMeasureFormat);
      SetWindowPos(nullptr, 0, 0, rc.right - rc.left, rc.bottom - rc.top, kResizeFlags);
      ::DrawTextW(dc.get(), m_text.c_str(), -1, &rc, kDrawFormat);
      ::EndPath(dc.get());
      region = ::PathToRegion(dc.get());
    }  // the previous font is back in the DC before the font is deleted
    if (attempts == 0) {
      if (region) ::DeleteObject(region);
      region = ::CreateRectRgn(0, 0, 0, 0);
      break;
    }
    dc.reset();
    rc.bottom -= 1;
    --attempts;
    if (region) break;
  }
  return region;
}
