#include "hkb/dialog.h"

#include "hkb/app.h"

void DDX_Check(CDataExchange* pDX, int nIDC, int& value) {
  const HWND control = pDX->m_pDlgWnd->GetDlgItem(nIDC);
  if (!control) return;
  if (pDX->m_bSaveAndValidate) {
    value = static_cast<int>(::SendMessageW(control, BM_GETCHECK, 0, 0));
  } else {
    const int state = value >= 0 && value <= 2 ? value : 0;
    ::SendMessageW(control, BM_SETCHECK, static_cast<WPARAM>(state), 0);
  }
}

void DDX_Control(CDataExchange* pDX, int nIDC, HWND& hControl) {
  if (!hControl) hControl = pDX->m_pDlgWnd->GetDlgItem(nIDC);
}

INT_PTR CDialogEx::DoModal() {
  if (m_hWnd) return -1;
  // The owner: the given parent, else the program's main window when it has
  // one (and it is not this dialog).
  HWND owner = m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : nullptr;
  if (!owner) {
    CWnd* main = AfxGetMainWnd();
    if (main && main != this) owner = main->GetSafeHwnd();
  }
  const INT_PTR result = ::DialogBoxParamW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), owner,
                                           &CDialogEx::DialogProc, reinterpret_cast<LPARAM>(this));
  m_hWnd = nullptr;
  return result;
}

void CDialogEx::EndDialog(int nResult) {
  if (m_hWnd) ::EndDialog(m_hWnd, nResult);
}

BOOL CDialogEx::UpdateData(BOOL bSaveAndValidate) {
  if (!m_hWnd) return FALSE;
  CDataExchange dx(this, bSaveAndValidate);
  DoDataExchange(&dx);
  return TRUE;
}

BOOL CDialogEx::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialogEx::OnOK() {
  UpdateData(TRUE);
  EndDialog(IDOK);
}

void CDialogEx::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialogEx::OnCommand(WPARAM, LPARAM) { return FALSE; }

BOOL CDialogEx::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
  switch (message) {
    case WM_INITDIALOG: *pResult = OnInitDialog(); return TRUE;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDOK) {
        OnOK();
        return TRUE;
      }
      if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDCANCEL) {
        OnCancel();
        return TRUE;
      }
      return OnCommand(wParam, lParam);
    default: return FALSE;
  }
}

INT_PTR CALLBACK CDialogEx::DialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialogEx* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CDialogEx*>(lParam);
    self->m_hWnd = hDlg;
    ::SetWindowLongPtrW(hDlg, DWLP_USER, lParam);
  } else {
    self = reinterpret_cast<CDialogEx*>(::GetWindowLongPtrW(hDlg, DWLP_USER));
  }
  if (!self) return FALSE;

  LRESULT result = 0;
  BOOL handled = FALSE;
  try {
    handled = self->OnWndMsg(message, wParam, lParam, &result);
  } catch (...) {
    handled = FALSE;
    if (message == WM_INITDIALOG) {
      ::EndDialog(hDlg, -1);
      return TRUE;
    }
  }

  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hDlg, DWLP_USER, 0);
    self->m_hWnd = nullptr;
    self->PostNcDestroy();
    return FALSE;
  }
  if (!handled) return FALSE;
  switch (message) {
    // These answer through the procedure's return value.
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON: return static_cast<INT_PTR>(result);
    default: ::SetWindowLongPtrW(hDlg, DWLP_MSGRESULT, result); return TRUE;
  }
}
