// A host of the library as its real callers are: it loads the shipped DLL,
// initializes it, waits to be told to stop, finalizes it and ends. Tests copy
// it under executable names of their choosing, so that several processes share
// a base name.
//   hkbh_host DLL RESULT-FILE QUIT-EVENT [ie-search]
// RESULT-FILE receives "init 0x<hr> <ms> thread=<0|1>" once HkbhInitialize has
// returned (thread=1 when this process runs a refresh thread, seen from its
// exit event), and "final <ms>" once HkbhFinalize has returned. With
// "ie-search", a successful initialization is followed by the browser search
// (tile mode 0, search mode 1, no exclusion) and "search 0x<hr>". The exit code
// is 0, or 2 when the DLL or its exports are missing, 3 when no stop came.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

void Append(const wchar_t* path, const std::string& line) {
  HANDLE f = ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD put = 0;
  ::WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &put, nullptr);
  ::CloseHandle(f);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 1;
  HMODULE dll = ::LoadLibraryW(argv[1]);
  if (!dll) return 2;
  using Init = HRESULT(WINAPI*)();
  using Fini = void(WINAPI*)();
  auto init = reinterpret_cast<Init>(reinterpret_cast<void*>(::GetProcAddress(dll, "HkbhInitialize")));
  auto fini = reinterpret_cast<Fini>(reinterpret_cast<void*>(::GetProcAddress(dll, "HkbhFinalize")));
  if (!init || !fini) return 2;

  ULONGLONG start = ::GetTickCount64();
  const HRESULT hr = init();
  const ULONGLONG took = ::GetTickCount64() - start;
  const std::wstring event =
      L"Local\\QRH_Event_Exit_RefreshThread" + std::to_wstring(::GetCurrentProcessId());
  HANDLE own = ::OpenEventW(SYNCHRONIZE, FALSE, event.c_str());
  char line[128];
  std::snprintf(line, sizeof line, "init 0x%08lX %llu thread=%d\r\n", static_cast<unsigned long>(hr), took,
                own ? 1 : 0);
  if (own) ::CloseHandle(own);
  Append(argv[2], line);

  if (argc > 4 && std::wstring(argv[4]) == L"ie-search" && SUCCEEDED(hr)) {
    using Search = HRESULT(WINAPI*)(UINT, UINT, BOOL);
    auto search =
        reinterpret_cast<Search>(reinterpret_cast<void*>(::GetProcAddress(dll, "HkbhLaunchIEBySearch")));
    if (!search) return 2;
    std::snprintf(line, sizeof line, "search 0x%08lX\r\n", static_cast<unsigned long>(search(0, 1, FALSE)));
    Append(argv[2], line);
  }

  HANDLE quit = ::OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
  const bool told = quit && ::WaitForSingleObject(quit, 120000) == WAIT_OBJECT_0;
  if (quit) ::CloseHandle(quit);
  start = ::GetTickCount64();
  if (SUCCEEDED(hr)) fini();
  std::snprintf(line, sizeof line, "final %llu\r\n", ::GetTickCount64() - start);
  Append(argv[2], line);
  ::FreeLibrary(dll);
  return told ? 0 : 3;
}
