// Entry points of ZEVOSD.dll and its application object.
#include <cstring>
#include <memory>
#include <new>

#include "OSDText.h"
#include "ZEVOSD.h"
#include "hkb/framework.h"

namespace {

// The display most recently requested; it may have outlived its window.
std::unique_ptr<COSDBase> s_pCurrentDisplay;

void DeleteCurrentDisplay() {
  if (!s_pCurrentDisplay) return;
  if (::IsWindow(s_pCurrentDisplay->GetSafeHwnd())) s_pCurrentDisplay->DestroyWindow();
  s_pCurrentDisplay.reset();
}

int Display(const OSD_REQUEST* pRequest) {
  if (!pRequest || pRequest->dwVersion != 0) return 0;
  DeleteCurrentDisplay();
  s_pCurrentDisplay.reset(new (std::nothrow) COSDText);
  if (!s_pCurrentDisplay) return 0;
  // A refused creation keeps its object until the next request or unload.
  if (!s_pCurrentDisplay->Create(pRequest)) return 0;
  s_pCurrentDisplay->ShowWindow(SW_SHOWNA);
  s_pCurrentDisplay->UpdateWindow();
  return 1;
}

int DisplayA(const OSD_REQUESTA* pRequest) {
  if (!pRequest || pRequest->dwVersion != 0 || !pRequest->pszText) return 0;

  const int textLength = ::MultiByteToWideChar(CP_ACP, 0, pRequest->pszText, -1, nullptr, 0);
  if (textLength <= 0) return 0;
  std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[static_cast<size_t>(textLength)]);
  if (!text) return 0;
  if (::MultiByteToWideChar(CP_ACP, 0, pRequest->pszText, -1, text.get(), textLength) == 0) return 0;
  if (text[0] == L'\0') return 0;

  // The face name must end inside its 32-byte field; it is never read beyond.
  const size_t faceBytes = ::strnlen(pRequest->lf.lfFaceName, LF_FACESIZE);
  if (faceBytes == 0 || faceBytes == LF_FACESIZE) return 0;
  const int faceSource = static_cast<int>(faceBytes) + 1;  // with the terminator
  const int faceLength = ::MultiByteToWideChar(CP_ACP, 0, pRequest->lf.lfFaceName, faceSource, nullptr, 0);
  if (faceLength <= 0 || faceLength > LF_FACESIZE) return 0;
  wchar_t face[LF_FACESIZE] = {};
  if (::MultiByteToWideChar(CP_ACP, 0, pRequest->lf.lfFaceName, faceSource, face, LF_FACESIZE) == 0) return 0;
  if (face[0] == L'\0') return 0;

  OSD_REQUEST wide = {};
  wide.cbSize = sizeof(OSD_REQUEST);
  wide.dwVersion = pRequest->dwVersion;
  wide.dwKind = pRequest->dwKind;
  wide.crColor = pRequest->crColor;
  wide.nPosition = pRequest->nPosition;
  wide.nDuration = pRequest->nDuration;
  wide.nHeightDiv = pRequest->nHeightDiv;
  wide.nWidthDiv = pRequest->nWidthDiv;
  const LOGFONTA& a = pRequest->lf;
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

extern "C" int OnScreen_Display(const OSD_REQUEST* pRequest) {
  try {
    return Display(pRequest);
  } catch (...) {
    return 0;
  }
}

extern "C" int OnScreen_DisplayA(const OSD_REQUESTA* pRequest) {
  try {
    return DisplayA(pRequest);
  } catch (...) {
    return 0;
  }
}
