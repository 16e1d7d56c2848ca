// A host program for the catalogue library, for the tests that need a process
// of their own (a given executable name, a file-size limit, a file read back
// by a Linux-side parser).
//   hkbh_tool log TEXT                     switch the log on as an initialization does and write TEXT
//   hkbh_tool save-sample PATH             save the sample catalogue
//   hkbh_tool save-large PATH P A D        save P packages of A apps and D desktop apps
//   hkbh_tool hold PATH                    create PATH, then stay until it is removed (at most
//                                          10 minutes): keeps the Wine session of the prefix up
// Exit code 0 when the operation succeeded, 2 when it failed; the result is
// printed.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "app_name_list.h"
#include "catalogue_samples.h"
#include "hkbh_log.h"
#include "hkbh_reg.h"
#include "hkbtest/wait.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: hkbh_tool log TEXT | save-sample PATH | save-large PATH P A D | hold PATH\n");
    return 1;
  }
  const std::wstring command = argv[1];
  if (command == L"log") {
    HkbhSetLogSwitch(CHkbhReg::IsDebugLogOn());
    if (HkbhIsLogSwitchOn()) HkbhBuildLogPath();
    return WriteLog("%S\r\n", argv[2]) ? 0 : 2;
  }
  if (command == L"hold") {
    const HANDLE made = ::CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (made == INVALID_HANDLE_VALUE) return 2;
    ::CloseHandle(made);
    const bool removed = hkbtest::WaitUntil(
        [&] { return ::GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES; }, std::chrono::minutes(10));
    return removed ? 0 : 2;
  }
  CHkbhAppNameList list;
  if (command == L"save-sample") {
    hkbhtest::BuildSampleCatalogue(list);
  } else if (command == L"save-large" && argc >= 6) {
    hkbhtest::BuildLargeCatalogue(list, _wtoi(argv[3]), _wtoi(argv[4]), _wtoi(argv[5]));
  } else {
    std::fprintf(stderr, "unknown command\n");
    return 1;
  }
  const HRESULT hr = list.Save(argv[2]);
  std::printf("save 0x%08lX\n", static_cast<unsigned long>(hr));
  return SUCCEEDED(hr) ? 0 : 2;
}
