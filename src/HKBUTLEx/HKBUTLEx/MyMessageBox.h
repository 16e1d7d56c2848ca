// The launcher's message box for an app that "/LAUNCH" could not start, and
// the hand-over that keeps one such box on the screen across processes.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <memory>
#include <string>

#include "hkb/com.h"
#include "hkb/dialog.h"

namespace Gdiplus {
class Image;
}
namespace hkb {
class GdiplusSession;
}

// Posted by one launcher process to the box of another: come to the front.
inline constexpr UINT WM_HKBUTLEX_RAISEBOX = WM_APP + 0x64;

// Shows the box for `name`, or raises the box of another launcher process
// instead; returns when the box shown here is closed.
void ShowLaunchFailureBox(const std::wstring& name);
// Up to 16 looks, 1 ms apart, for a launcher window in the foreground.
BOOL WaitForLauncherForeground();
// Brings `wnd` to the foreground, borrowing the input of the current
// foreground thread for the call.
void ForceForeground(HWND wnd);

class CMyMessageBox : public CDialogEx {
 public:
  CMyMessageBox() noexcept;
  ~CMyMessageBox() override;

  // The display name of the app that failed to start.
  std::wstring m_strTitle;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

 private:
  bool LoadPicture();
  void PaintPicture();
  void ReleasePicture();
  std::wstring FitNameToBox(const std::wstring& name);

  HWND m_hMessage = nullptr;  // control 1003
  HWND m_hPicture = nullptr;  // control 1004, where the picture goes
  // GDI+ from the dialog's start to its end; the image reads from the stream
  // for as long as it lives.
  std::unique_ptr<hkb::GdiplusSession> m_gdiplus;
  hkb::ComPtr<IStream> m_pPictureStream;
  std::unique_ptr<Gdiplus::Image> m_pPicture;
};
