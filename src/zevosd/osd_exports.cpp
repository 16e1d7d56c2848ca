// Entry points of ZEVOSD.dll and its application object.
//
// Callers are expected to make one request at a time from one thread. Calls
// from several threads at once are served one after the other: the entry
// points share one lock. A display that another thread owns cannot be
// destroyed from here; it is parted from its object (see
// CWnd::DetachWindow) and closed by its own thread.
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "OSDText.h"
#include "ZEVOSD.h"
#include "hkb/framework.h"
#include "hkb/guard.h"
#include "hkb/sync.h"

namespace {

// Serialises the entry points. Recursive, so that a caller's window that
// makes a request while a request of the same thread is showing its display
// behaves as it did without the lock.
hkb::RecursiveLock s_requestLock;

// The display most recently requested; it may have outlived its window.
hkb::framework::WndPtr<COSDBase> s_currentDisplay;

void DeleteCurrentDisplay() {
  if (!s_currentDisplay) return;
  const HWND wnd = s_currentDisplay->GetSafeHwnd();
  if (::IsWindow(wnd) && ::GetWindowThreadProcessId(wnd, nullptr) == ::GetCurrentThreadId()) {
    s_currentDisplay->DestroyWindow();  // the override: the timer first
  }
  s_currentDisplay.reset();  // parts a window of another thread from the object first
}

int Display(const OSD_REQUEST* request) {
  if (!request || request->dwVersion != 0) return 0;
  DeleteCurrentDisplay();
  s_currentDisplay.reset(new (std::nothrow) COSDText);
  if (!s_currentDisplay) return 0;
  // A refused creation keeps its object until the next request or unload.
  if (!s_currentDisplay->Create(request)) return 0;
  s_currentDisplay->ShowWindow(SW_SHOWNA);
  s_currentDisplay->UpdateWindow();
  return 1;
}

int DisplayA(const OSD_REQUESTA* request) {
  if (!request || request->dwVersion != 0 || !request->pszText) return 0;

  const int textLength = ::MultiByteToWideChar(CP_ACP, 0, request->pszText, -1, nullptr, 0);
  if (textLength <= 0) return 0;
  std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[static_cast<size_t>(textLength)]);
  if (!text) return 0;
  if (::MultiByteToWideChar(CP_ACP, 0, request->pszText, -1, text.get(), textLength) == 0) return 0;
  if (text[0] == L'\0') return 0;

  // The face name must end inside its 32-byte field; it is never read beyond.
  const size_t faceBytes = ::strnlen(request->lf.lfFaceName, LF_FACESIZE);
  if (faceBytes == 0 || faceBytes == LF_FACESIZE) return 0;
  const int faceSource = static_cast<int>(faceBytes) + 1;  // with the terminator
  const int faceLength = ::MultiByteToWideChar(CP_ACP, 0, request->lf.lfFaceName, faceSource, nullptr, 0);
  if (faceLength <= 0 || faceLength > LF_FACESIZE) return 0;
  wchar_t face[LF_FACESIZE] = {};
  if (::MultiByteToWideChar(CP_ACP, 0, request->lf.lfFaceName, faceSource, face, LF_FACESIZE) == 0) return 0;
  if (face[0] == L'\0') return 0;

  OSD_REQUEST wide = {};
  wide.cbSize = sizeof(OSD_REQUEST);
  wide.dwVersion = request->dwVersion;
  wide.dwKind = request->dwKind;
  wide.crColor = request->crColor;
  wide.nPosition = request->nPosition;
  wide.nDuration = request->nDuration;
  wide.nHeightDiv = request->nHeightDiv;
  wide.nWidthDiv = request->nWidthDiv;
  const LOGFONTA& a = request->lf;
  LOGFONTW& w = wide.lf;
  w.lfHeight = a.lfHeight;
  w.lfWidth = a.lfWidth;
  w.lfEscapement = a.lfEscapement;
  w.lfOrientation = a.lfOrientation;
  w.lfWeight = a.lfWeight;
  w.lfItalic = a.lfItalic;
  w.lfUnderline = a.lfUnderline;
  w.lfStrikeOut = a.lfStrikeOut;
  w.lfCharSet = a.lfCharSet;
  w.lfOutPrecision = a.lfOutPrecision;
  w.lfClipPrecision = a.lfClipPrecision;
  w.lfQuality = a.lfQuality;
  w.lfPitchAndFamily = a.lfPitchAndFamily;
  std::memcpy(w.lfFaceName, face, sizeof face);
  wide.pszText = text.get();
  // The level-bar fields stay 0.
  return Display(&wide);
}

}  // namespace

// Removes a display that is still up before the library goes.
class CZEVOSDApp : public CWinApp {
 public:
  int ExitInstance() override {
    DeleteCurrentDisplay();
    return CWinApp::ExitInstance();
  }
};

static CZEVOSDApp theApp;

extern "C" int OnScreen_Display(const OSD_REQUEST* request) {
  return hkb::Guarded(0, [&] {
    std::lock_guard lock(s_requestLock);
    return Display(request);
  });
}

extern "C" int OnScreen_DisplayA(const OSD_REQUESTA* request) {
  return hkb::Guarded(0, [&] {
    std::lock_guard lock(s_requestLock);
    return DisplayA(request);
  });
}
