// Modal dialogs from templates: the base class CDialogEx with initialisation,
// command handling and dialog data exchange.
//
//  * DoModal runs the template of the module (AfxGetInstanceHandle) as a modal
//    dialog. The object is attached to its window from WM_INITDIALOG on and
//    every later message goes through the virtual OnWndMsg; a message that it
//    leaves unhandled gets the dialog manager's default handling. m_hWnd is
//    cleared when the window goes, so the object outlives its window.
//  * The base OnInitDialog fills the controls from the members
//    (UpdateData(FALSE)) and lets the default focus apply.
//  * WM_COMMAND: BN_CLICKED from IDOK calls OnOK (take the controls into the
//    members, end with IDOK), from IDCANCEL (also the close box and Esc)
//    OnCancel (end with IDCANCEL); every other command goes to OnCommand.
//  * No exception leaves a handler: one thrown by OnInitDialog ends the dialog
//    with -1, any other is dropped and the message counts as unhandled.
#pragma once

#include <windows.h>

#include "hkb/framework.h"

class CDialogEx;

// The direction of one exchange between the members and the controls.
class CDataExchange {
 public:
  CDataExchange(CDialogEx* pDlgWnd, BOOL bSaveAndValidate) noexcept
      : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
  BOOL m_bSaveAndValidate;  // TRUE: controls to members
  CDialogEx* m_pDlgWnd;
};

// A check box's state and a 32-bit member (0 clear, 1 checked, 2 indeterminate).
void DDX_Check(CDataExchange* pDX, int nIDC, int& value);
// Binds the control's window handle to a member (one way: control to member).
void DDX_Control(CDataExchange* pDX, int nIDC, HWND& hControl);

class CDialogEx : public CWnd {
 public:
  explicit CDialogEx(UINT nIDTemplate, CWnd* pParentWnd = nullptr) noexcept
      : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

  // The result given to EndDialog, or -1 when the dialog could not be created.
  virtual INT_PTR DoModal();
  void EndDialog(int nResult);
  // TRUE: controls to members; FALSE: members to controls.
  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
  HWND GetDlgItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
  UINT GetTemplateId() const noexcept { return m_nIDTemplate; }

 protected:
  // TRUE: the dialog manager puts the focus on the first control that takes it.
  virtual BOOL OnInitDialog();
  virtual void DoDataExchange(CDataExchange*) {}
  virtual void OnOK();
  virtual void OnCancel();
  // Commands other than IDOK / IDCANCEL; TRUE when handled.
  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
  // Every message of the dialog from WM_INITDIALOG on. TRUE when handled, with
  // the message's result in *pResult; FALSE leaves it to the default handling.
  virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

 private:
  static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);

  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;
};
