#include "hkbtest/process.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>

namespace hkbtest {

bool CreateProcessPatiently(const wchar_t* application, const std::wstring& commandLine, BOOL inheritHandles,
                            DWORD flags, const wchar_t* folder, STARTUPINFOW& startup,
                            PROCESS_INFORMATION& info) {
  DWORD error = 0;
  for (int attempt = 1; attempt <= 5; ++attempt) {
    if (attempt > 1) ::Sleep(500);
    std::wstring line = commandLine;
    if (::CreateProcessW(application, line.data(), nullptr, nullptr, inheritHandles, flags, nullptr, folder,
                         &startup, &info))
      return true;
    error = ::GetLastError();
    std::fprintf(stderr, "CreateProcessW failed with %lu (try %d of 5): %ls\n", error, attempt,
                 commandLine.c_str());
  }
  ::SetLastError(error);
  return false;
}

hkb::UniqueHandle StartProgram(const std::wstring& commandLine) {
  hkb::UniqueFile nul(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = si.hStdOutput = si.hStdError = nul.get();
  ::SetHandleInformation(nul.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  PROCESS_INFORMATION pi = {};
  // Only the NUL handle is inheritable.
  if (!CreateProcessPatiently(nullptr, commandLine, TRUE, CREATE_NO_WINDOW, nullptr, si, pi)) return {};
  hkb::UniqueHandle thread(pi.hThread);
  return hkb::UniqueHandle(pi.hProcess);
}

int ExitCodeOf(HANDLE process) {
  DWORD code = 0;
  if (::WaitForSingleObject(process, 0) != WAIT_OBJECT_0 || !::GetExitCodeProcess(process, &code)) return -1;
  return static_cast<int>(code);
}

int RunProgram(const std::wstring& commandLine, DWORD timeoutMs) {
  const hkb::UniqueHandle process = StartProgram(commandLine);
  if (!process) return -1;
  if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.get(), 99);
    return -1;
  }
  return ExitCodeOf(process.get());
}

std::set<DWORD> ThreadIds() {
  std::set<DWORD> out;
  hkb::UniqueFile snap(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snap) return out;
  THREADENTRY32 te = {};
  te.dwSize = sizeof te;
  for (BOOL ok = ::Thread32First(snap.get(), &te); ok; ok = ::Thread32Next(snap.get(), &te)) {
    if (te.th32OwnerProcessID == ::GetCurrentProcessId()) out.insert(te.th32ThreadID);
  }
  return out;
}

bool StartsInModule(DWORD threadId, HMODULE module) {
  using QueryFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
  hkb::UniqueHandle thread(::OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId));
  if (!query || !thread) return false;
  void* start = nullptr;
  constexpr int kThreadQuerySetWin32StartAddress = 9;
  if (query(thread.get(), kThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) != 0) return false;
  MODULEINFO info = {};
  if (!::GetModuleInformation(::GetCurrentProcess(), module, &info, sizeof info)) return false;
  const auto* base = static_cast<const char*>(info.lpBaseOfDll);
  const auto* at = static_cast<const char*>(start);
  return at >= base && at < base + info.SizeOfImage;
}

bool PatchImport(HMODULE module, const char* dll, const char* name, void* replacement, void** original) {
  auto* base = reinterpret_cast<BYTE*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!dir.VirtualAddress) return false;
  for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
    if (_stricmp(reinterpret_cast<char*>(base + imp->Name), dll) != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(
        base + (imp->OriginalFirstThunk ? imp->OriginalFirstThunk : imp->FirstThunk));
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<char*>(byName->Name), name) != 0) continue;
      DWORD old = 0;
      if (!::VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &old)) return false;
      *original = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      ::VirtualProtect(&slots->u1.Function, sizeof(void*), old, &old);
      return true;
    }
  }
  return false;
}

}  // namespace hkbtest
