// Threads and programs of tests and stand-ins: starting and running
// programs, listing this process's threads, and pointing a module's import
// at a recording function.
#pragma once

#include <windows.h>

#include <set>
#include <string>

#include "hkb/unique.h"

namespace hkbtest {

// Starts a program with no inherited handles but a NUL standard input and
// output; its process handle (empty when it could not be started).
hkb::UniqueHandle StartProgram(const std::wstring& commandLine);
// CreateProcessW with no security attributes and the caller's environment,
// tried again (five tries, 500 ms apart) when it fails: on a machine under
// heavy load Wine now and then fails to start a process. Each failure is named
// on stderr; after the last one GetLastError() gives its error.
bool CreateProcessPatiently(const wchar_t* application, const std::wstring& commandLine, BOOL inheritHandles,
                            DWORD flags, const wchar_t* folder, STARTUPINFOW& startup,
                            PROCESS_INFORMATION& info);
// Runs it to its end: the exit code, or -1 when it could not be started or
// did not end in time (it is then ended).
int RunProgram(const std::wstring& commandLine, DWORD timeoutMs = 60000);
// The exit code of an ended process, -1 while it runs or when it cannot be read.
int ExitCodeOf(HANDLE process);

// The threads of this process.
std::set<DWORD> ThreadIds();
// Whether the thread's start address lies in the module's image.
bool StartsInModule(DWORD threadId, HMODULE module);

// Points `module`'s import of `name` from `dll` at `replacement`; the
// address it had goes to `original`. False when there is no such import.
bool PatchImport(HMODULE module, const char* dll, const char* name, void* replacement, void** original);

}  // namespace hkbtest
