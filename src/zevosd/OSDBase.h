// The display window shared by every kind of display: a disabled, top-most
// pop-up tool window, sized from the work area, filled with the request colour,
// removed by its timer or by a display change.
#pragma once

#include "ZEVOSD.h"
#include "hkb/framework.h"
#include "hkb/unique.h"

class COSDBase : public CWnd {
 public:
  static constexpr UINT_PTR kTimerId = 100;

  COSDBase() noexcept = default;
  ~COSDBase() override = default;  // the brush goes first, then the window part

  // Creates the (hidden) window for a request; FALSE when it is refused.
  BOOL Create(const OSD_REQUEST* request);

  // Kills the display timer, then destroys the window.
  BOOL DestroyWindow() override;

 protected:
  BOOL PreCreateWindow(CREATESTRUCTW& cs) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  // Starts the display timer; views end their own WM_CREATE handling with it.
  virtual int OnCreate(LPCREATESTRUCTW createStruct);
  // Moves the window to its position without resizing or redrawing it.
  void Place();

  DWORD m_version = 0;
  DWORD m_kind = 0;
  COLORREF m_color = 0;
  UINT m_position = 0;
  UINT m_duration = 0;
  UINT m_heightDiv = 0;
  UINT m_widthDiv = 0;
  hkb::UniqueBrush m_brush;
};
