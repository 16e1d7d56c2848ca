// Stand-in for the outside display-mode library DSPMODE.dll, put where the
// launcher loads it (Program Files\ZEVHKB). Stand-in name "dspmode".
// Records: the export's name. The scenario is read at every call, so a test
// can change the display mode while the launcher runs:
//   init=<n>  result of DSPMODE_Initialize (default 0, success)
//   get=<n>   result of DSPMODE_GetDisplayMode (default 0, success)
//   mode=<n>  the display mode it reports (default 0)
#include <windows.h>

#include "hkbstandin/records.h"

namespace {
constexpr wchar_t kName[] = L"dspmode";
}

extern "C" int DSPMODE_Initialize() {
  hkbstandin::AppendRecord(kName, {L"DSPMODE_Initialize"});
  return static_cast<int>(hkbstandin::Number(hkbstandin::ReadScenario(kName), "init", 0));
}

extern "C" int DSPMODE_GetDisplayMode(int* mode) {
  hkbstandin::AppendRecord(kName, {L"DSPMODE_GetDisplayMode"});
  const hkbstandin::Scenario s = hkbstandin::ReadScenario(kName);
  if (mode) *mode = static_cast<int>(hkbstandin::Number(s, "mode", 0));
  return static_cast<int>(hkbstandin::Number(s, "get", 0));
}

extern "C" int DSPMODE_Finalize() {
  hkbstandin::AppendRecord(kName, {L"DSPMODE_Finalize"});
  return 0;
}
