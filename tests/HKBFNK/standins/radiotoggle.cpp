// Stand-in for the wireless on/off program. On start it appends one line to
// the file named by RADIOTOGGLE_TRACE: "started pid=<pid> args=[<arguments>]".
// It then runs until the event "HKBTest.RadioToggle.Exit" is set (at most 60 s)
// and appends "ended".
#include <windows.h>

#include <string>

#include "hkbtest/env.h"
#include "hkbtest/files.h"
#include "hkbtest/text.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR args, int) {
  const std::wstring trace = hkbtest::Env(L"RADIOTOGGLE_TRACE");
  if (trace.empty()) return 1;
  HANDLE quit = ::CreateEventW(nullptr, TRUE, FALSE, L"HKBTest.RadioToggle.Exit");
  hkbtest::AppendFileBytes(trace, "started pid=" + std::to_string(::GetCurrentProcessId()) + " args=[" +
                                      hkbtest::Utf8(args) + "]\n");
  ::WaitForSingleObject(quit, 60000);
  hkbtest::AppendFileBytes(trace, "ended\n");
  if (quit) ::CloseHandle(quit);
  return 0;
}
