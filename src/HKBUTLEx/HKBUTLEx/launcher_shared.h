// What the launcher's application object and its dialogs share: the class
// every launcher window carries, the string table, and the checks the dialogs
// ask of the application object.
#pragma once

#include <windows.h>

#include <string>

// Every launcher window carries this class so that other launcher processes
// can find it.
inline constexpr wchar_t kLauncherWindowClass[] = L"HKBUTLEXWINDCLASS";

// A string of the launcher's string table (empty when missing).
std::wstring LoadResourceString(UINT id);

// The checks that go through the libraries the application object bound at
// start-up (CHKBUTLExApp answers them); the dialogs that need them get the
// object when they are made.
class CLauncherChecks {
 public:
  // Non-zero when the helper library reports the app installed, and whenever
  // it cannot be asked. An id starting with U+0001 is a package family name.
  virtual BOOL IsAppInstalled(const std::wstring& id) = 0;
  // 1 when the display-mode library reports mode 2; asked afresh every time.
  virtual BOOL IsDisplayMode2() = 0;

 protected:
  ~CLauncherChecks() = default;
};
