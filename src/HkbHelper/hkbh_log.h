// The library's debug log: one time-stamped entry per call, appended to
// %LOCALAPPDATA%\ZEV\HkbHelper\<executable base name>\HkbHelperLog.txt while
// the log switch is on. Entries are single-byte text; wide-string arguments
// are written with "%S".
#pragma once

#include <windows.h>

#include <cstddef>

// Every path the library builds fits this many UTF-16 units, terminator included.
inline constexpr size_t kHkbhPathChars = 260;
// One entry's time stamp or message, terminator included.
inline constexpr size_t kHkbhLogEntryBytes = 1024;

// Writes one entry: 1 without writing while the log is off, 0 for a null
// format or a file that cannot be opened, else the result of the last write.
// A message longer than the entry buffer is cut and still ends with CR LF.
int WriteLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A string argument as the entries show it: "(null)" for none.
inline const wchar_t* HkbhTraceText(const wchar_t* s) { return s ? s : L"(null)"; }
// Writes the closing entry of a traced call, "<name> OUT(0x<result>)", and
// gives the result back.
inline HRESULT HkbhTraceOut(const wchar_t* name, HRESULT hr) {
  WriteLog("%S OUT(0x%08X)\r\n", name, static_cast<unsigned>(hr));
  return hr;
}

// The log switch, set at every initialization of the library.
void HkbhSetLogSwitch(BOOL on);
BOOL HkbhIsLogSwitchOn();

// Builds the log path from LOCALAPPDATA and the executable's base name. FALSE
// (path unchanged) when either is unavailable or the path does not fit.
BOOL HkbhBuildLogPath();
// The current log path (initially the relative "HkbHelperLog.txt").
void HkbhGetLogPath(wchar_t (&out)[kHkbhPathChars]);

// The base name of the hosting executable (its file name cut at the first
// "."), shared by the log and the catalogue folder. FALSE when the executable
// path is unavailable.
BOOL HkbhGetExecutableBaseName(wchar_t (&out)[kHkbhPathChars]);
