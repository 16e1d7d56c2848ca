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

// The text of a string argument as the log writes it: "(null)" for none.
inline const wchar_t* HkbhText(const wchar_t* s) noexcept { return s ? s : L"(null)"; }

// One traced call: its IN line when the object is made and the OUT line the
// call ends with, in the log's format ("<name> IN", "<name>(<argument>) IN",
// "<name> OUT(0x%08X)", "<name> OUT(%d)", "<name> OUT"). A path that returns
// without an OUT line (an argument check) writes none.
class HkbhTrace {
 public:
  // For a call whose IN line is of another form and written by the call.
  struct InWritten {};

  explicit HkbhTrace(const wchar_t* name) noexcept;
  HkbhTrace(const wchar_t* name, const wchar_t* argument) noexcept;
  HkbhTrace(const wchar_t* name, const wchar_t* first, const wchar_t* second) noexcept;
  HkbhTrace(const wchar_t* name, InWritten) noexcept : m_name(name) {}
  HkbhTrace(const HkbhTrace&) = delete;
  HkbhTrace& operator=(const HkbhTrace&) = delete;

  const wchar_t* name() const noexcept { return m_name; }
  // The result as "OUT(0x%08X)"; returns it.
  HRESULT Out(HRESULT hr) const noexcept;
  // A value as "OUT(%d)"; returns it.
  int OutValue(int value) const noexcept;
  // A bare "OUT".
  void Out() const noexcept;

 private:
  const wchar_t* m_name;
};

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
