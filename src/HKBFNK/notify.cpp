// Key presses handed on to the companion programs: two posted window messages
// and one program start. Nothing here waits for the companions.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>
#include <iterator>
#include <io.h>

#include "HKBFNK.h"

namespace {

constexpr wchar_t kSwitcherName[] = L"ZEV External Display Switcher";
constexpr UINT kSwitcherMessage = WM_APP + 318;  // 0x813E
constexpr wchar_t kEcoClass[] = L"PwrTuner";
constexpr UINT kEcoMessage = WM_USER + 317;  // 0x53D
constexpr wchar_t kRadioToggleTail[] = L"\\ZEVHKB\\RadioToggle.exe";

static_assert(kSwitcherMessage == 0x813E && kEcoMessage == 0x53D);
static_assert(sizeof(SHELLEXECUTEINFOW) == 112);

int PostIfFound(const wchar_t* cls, const wchar_t* title, UINT message) {
  HWND wnd = ::FindWindowW(cls, title);
  if (!wnd) return 0;
  ::PostMessageW(wnd, message, 0, 0);  // the outcome of the post does not count
  return 1;
}

}  // namespace

extern "C" int HKBFNK_Inform_FNF3_Push(void) {
  return PostIfFound(kSwitcherName, kSwitcherName, kSwitcherMessage);
}

extern "C" int HKBFNK_Inform_ECO_Push(void) { return PostIfFound(kEcoClass, nullptr, kEcoMessage); }

extern "C" int HKBFNK_Inform_AirPlane_Push(void) {
  wchar_t path[MAX_PATH] = {};
  ::SHGetSpecialFolderPathW(nullptr, path, CSIDL_PROGRAM_FILES, FALSE);
  if (path[0] == L'\0') return 0;

  // A folder path too long for the tail cannot name the program.
  const size_t used = std::wcslen(path);
  if (used + std::size(kRadioToggleTail) > std::size(path)) return 0;
  std::wmemcpy(path + used, kRadioToggleTail, std::size(kRadioToggleTail));

  if (::_waccess(path, 0) != 0) return 0;

  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = ::GetForegroundWindow();
  if (!info.hwnd) info.hwnd = ::GetForegroundWindow();
  info.lpFile = path;
  info.nShow = SW_SHOWNORMAL;

  const BOOL started = ::ShellExecuteExW(&info);
  if (info.hProcess) ::CloseHandle(info.hProcess);
  return started;
}
