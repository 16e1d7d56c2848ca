// The application object of a program (as opposed to a library).
//
// A program links the framework's program entry (the object library
// hkb_program_main, which supplies wWinMain): it runs the application object's
// InitInstance; when that succeeds, Run; in either case ExitInstance, whose
// result becomes the exit code. A dialog program does its whole work in
// InitInstance and answers FALSE, so no message loop is entered.
#pragma once

#include <windows.h>

#include "hkb/framework.h"

class CWinAppEx : public CWinApp {
 public:
  CWinAppEx() noexcept = default;

  // The message loop of a program that keeps a main window; ends with WM_QUIT
  // and answers its exit code.
  virtual int Run();

  // The program's main window while it has one (not owned).
  CWnd* m_pMainWnd = nullptr;
  // The show command the program was started with.
  int m_nCmdShow = SW_SHOWNORMAL;
};

// The application object of this program, or nullptr.
CWinAppEx* AfxGetProgramApp() noexcept;
// Its main window, or nullptr.
CWnd* AfxGetMainWnd() noexcept;

namespace hkb::framework {
// The body of wWinMain: InitInstance, Run, ExitInstance; no exception leaves it.
int RunProgram(HINSTANCE instance, int nCmdShow);
}  // namespace hkb::framework
