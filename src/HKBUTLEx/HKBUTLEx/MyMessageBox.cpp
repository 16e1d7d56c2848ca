#include "MyMessageBox.h"

#include <cstring>
#include <cwchar>
#include <utility>

#include "hkb/gdiplus.h"
#include "hkb/unique.h"
#include "launcher_logic.h"
#include "launcher_shared.h"
#include "resource.h"

void ForceForeground(HWND wnd) {
  const DWORD foregroundThread = ::GetWindowThreadProcessId(::GetForegroundWindow(), nullptr);
  const DWORD currentThread = ::GetCurrentThreadId();
  const bool attached = foregroundThread != 0 && foregroundThread != currentThread &&
                        ::AttachThreadInput(currentThread, foregroundThread, TRUE);
  ::SetForegroundWindow(wnd);
  if (attached) ::AttachThreadInput(currentThread, foregroundThread, FALSE);
}

BOOL WaitForLauncherForeground() {
  for (int attempt = 0; attempt < 16; ++attempt) {
    if (attempt > 0) ::Sleep(1);
    const HWND foreground = ::GetForegroundWindow();
    if (!foreground) continue;
    wchar_t className[260] = {};
    if (::GetClassNameW(foreground, className, 260) > 0 && std::wcscmp(className, kLauncherWindowClass) == 0)
      return 1;
  }
  return 0;
}

void ShowLaunchFailureBox(const std::wstring& name) {
  CMyMessageBox box;
  box.m_strTitle = name;
  // A box of another launcher process has the launcher class and no caption
  // (the prompt has one).
  if (const HWND existing = ::FindWindowW(kLauncherWindowClass, L"")) {
    ::PostMessageW(existing, WM_HKBUTLEX_RAISEBOX, 0, 0);
    if (WaitForLauncherForeground()) return;
    if (const HWND again = ::FindWindowW(kLauncherWindowClass, L"")) ::PostMessageW(again, WM_CLOSE, 0, 0);
  }
  box.DoModal();
}

CMyMessageBox::CMyMessageBox() noexcept : CDialogEx(IDD_MYMESSAGEBOX) {}

CMyMessageBox::~CMyMessageBox() { ReleasePicture(); }

void CMyMessageBox::DoDataExchange(CDataExchange* pDX) {
  CDialogEx::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_MESSAGE, m_hMessage);
  DDX_Control(pDX, IDC_PICTURE, m_hPicture);
}

BOOL CMyMessageBox::OnInitDialog() {
  CDialogEx::OnInitDialog();
  const std::wstring open = LoadResourceString(IDS_OPEN_BRACKET);
  const std::wstring close = LoadResourceString(IDS_CLOSE_BRACKET);
  const std::wstring failedToStart = LoadResourceString(IDS_FAILED_TO_START);
  const std::wstring mayNotBeInstalled = LoadResourceString(IDS_MAY_NOT_BE_INSTALLED);

  m_gdiplus = std::make_unique<hkb::GdiplusSession>();
  if (!*m_gdiplus) {
    m_gdiplus.reset();
    return TRUE;
  }
  if (!LoadPicture()) return TRUE;

  const std::wstring name = FitNameToBox(m_strTitle);
  const std::wstring text = hkbutlex::ComposeFailureText(name, open, close, failedToStart, mayNotBeInstalled);
  ::SetWindowTextW(m_hMessage, text.c_str());
  ::SetWindowTextW(m_hPicture, L"");
  ForceForeground(m_hWnd);
  ::SetForegroundWindow(m_hWnd);
  return TRUE;
}

bool CMyMessageBox::LoadPicture() {
  const HINSTANCE instance = AfxGetInstanceHandle();
  const HRSRC resource = ::FindResourceW(instance, MAKEINTRESOURCEW(IDR_PNG_WARNING), L"PNG");
  if (!resource) return false;
  const DWORD size = ::SizeofResource(instance, resource);
  const HGLOBAL loaded = ::LoadResource(instance, resource);
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  if (!bytes || size == 0) return false;

  // The image reads its bytes through the stream for as long as it lives; the
  // stream owns the memory block and frees it when released.
  hkb::UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE, size));
  if (!block) return false;
  {
    hkb::GlobalLockScope copy(block.get());
    if (!copy.get()) return false;
    std::memcpy(copy.get(), bytes, size);
  }
  if (FAILED(::CreateStreamOnHGlobal(block.get(), TRUE, m_pPictureStream.put()))) return false;
  block.release();  // the stream frees it
  hkb::GdiplusPtr<Gdiplus::Image> image(Gdiplus::Image::FromStream(m_pPictureStream.get()));
  if (!image || image->GetLastStatus() != Gdiplus::Ok) {
    image.reset();
    m_pPictureStream.reset();
    return false;
  }
  m_pPicture = std::move(image);
  return true;
}

void CMyMessageBox::ReleasePicture() {
  m_pPicture.reset();
  m_pPictureStream.reset();
  m_gdiplus.reset();
}

std::wstring CMyMessageBox::FitNameToBox(const std::wstring& name) {
  RECT box = {};
  ::GetWindowRect(m_hMessage, &box);
  const hkb::WindowDc dc(m_hWnd);
  if (!dc) return name;
  const auto font = reinterpret_cast<HGDIOBJ>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
  const hkb::SelectObjectScope selected(dc.get(), font);
  const auto width = [&](const std::wstring& text) {
    SIZE extent = {};
    ::GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent);
    return static_cast<int>(extent.cx);
  };
  return hkbutlex::FitNameToBox(name, box.right - box.left, LoadResourceString(IDS_OPEN_BRACKET),
                                LoadResourceString(IDS_ELLIPSIS), LoadResourceString(IDS_CLOSE_BRACKET),
                                width);
}

void CMyMessageBox::PaintPicture() {
  PAINTSTRUCT ps;
  const HDC dc = ::BeginPaint(m_hWnd, &ps);
  if (dc && m_pPicture && m_hPicture) {
    RECT area = {};
    ::GetClientRect(m_hPicture, &area);
    ::MapWindowPoints(m_hPicture, m_hWnd, reinterpret_cast<POINT*>(&area), 2);
    // A square as wide as the placeholder, from its upper-left corner.
    const Gdiplus::Point corners[3] = {Gdiplus::Point(area.left, area.top),
                                       Gdiplus::Point(area.right, area.top),
                                       Gdiplus::Point(area.left, area.top + (area.right - area.left))};
    Gdiplus::Graphics graphics(dc);
    graphics.DrawImage(m_pPicture.get(), corners, 3);
  }
  ::EndPaint(m_hWnd, &ps);
}

BOOL CMyMessageBox::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
  switch (message) {
    case WM_PAINT:
      if (!m_pPicture) return FALSE;
      PaintPicture();
      *pResult = 0;
      return TRUE;
    case WM_HKBUTLEX_RAISEBOX:
      ForceForeground(m_hWnd);
      ::SetForegroundWindow(m_hWnd);
      *pResult = 1;
      return TRUE;
    case WM_DESTROY: ReleasePicture(); return FALSE;  // and the default handling
    default: return CDialogEx::OnWndMsg(message, wParam, lParam, pResult);
  }
}
