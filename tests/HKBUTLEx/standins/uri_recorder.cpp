// Stand-in for the companion app: registered for a test's scope as the
// handler of its URI scheme; records the elements of its command line after
// the program path (stand-in name "uri") and ends.
#include <windows.h>
#include <shellapi.h>

#include "hkbstandin/records.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  hkbstandin::Record record{L"started"};
  for (int i = 1; argv && i < argc; ++i) record.emplace_back(argv[i]);
  hkbstandin::AppendRecord(L"uri", record);
  ::LocalFree(argv);
  return 0;
}
