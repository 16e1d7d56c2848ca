// Feeds damaged files to the shipped library, one batch per process (the
// catalogue a process loads stays in memory, so batches keep it small).
//   hkbh_xml_worker load DLL SEED-FILE CLOSED TARGET RESULTS RUN-SEED FIRST COUNT
//     writes each damaged catalogue to TARGET (the catalogue file) and calls
//     HkbhInitialize / HkbhFinalize; an event under the instance mutex's name
//     keeps this process from the refresh role, so each load returns its status.
//   hkbh_xml_worker name DLL SEED-FILE CLOSED TARGET RESULTS RUN-SEED FIRST COUNT FAMILY
//     writes each damaged manifest to TARGET and asks HkbhGetAppDisplayNameByPFN.
// RESULTS receives "<index> 0x<hr>" per file, "hang <index>" when a call
// took longer than 30 s (exit code 13), "bad <index> <why>" when a result
// broke a rule (exit code 14). Exit code 0 after the batch, 2 when it could
// not start. A fault leaves "fault <index> 0x<code> in <module>" before the
// process ends: the first module on the faulting stack that is not the C
// runtime or the system's base (so a fault in memcpy names its caller).
// "skip <index>" marks a file that is not loaded (WineNeverFinishes).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "hkbstandin/records.h"
#include "xml_mutation.h"

namespace {

HANDLE s_results = INVALID_HANDLE_VALUE;
uint64_t s_current = 0;

void Line(const std::string& text) {
  DWORD put = 0;
  ::WriteFile(s_results, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
}

struct Exports {
  HRESULT(WINAPI* Initialize)();
  void(WINAPI* Finalize)();
  HRESULT(WINAPI* GetAppDisplayNameByPFN)(const wchar_t*, wchar_t**);
  void(WINAPI* ReleaseString)(void*);
};

struct Call {
  const Exports* dll;
  bool load;
  const wchar_t* family;
  HRESULT hr = E_PENDING;
  std::string bad;
};

DWORD WINAPI CallThread(void* param) {
  auto* c = static_cast<Call*>(param);
  if (c->load) {
    c->hr = c->dll->Initialize();
    if (SUCCEEDED(c->hr)) c->dll->Finalize();
    return 0;
  }
  wchar_t* name = nullptr;
  c->hr = c->dll->GetAppDisplayNameByPFN(c->family, &name);
  if (name) {
    // The block is 512 bytes and holds a terminated name.
    if (::LocalSize(name) != 512 || wcsnlen(name, 256) == 256) c->bad = "block";
    if (c->hr == static_cast<HRESULT>(0xA0000002)) c->bad = "block with 0xA0000002";
    c->dll->ReleaseString(name);
  }
  return 0;
}

const wchar_t* ModuleName(DWORD64 address, wchar_t (&path)[MAX_PATH]) {
  HMODULE m = nullptr;
  path[0] = L'?';
  path[1] = 0;
  if (::GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<const wchar_t*>(address), &m))
    ::GetModuleFileNameW(m, path, MAX_PATH);
  return std::wcsrchr(path, L'\\') ? std::wcsrchr(path, L'\\') + 1 : path;
}

// The last word of a process that faults: whose code it was.
LONG WINAPI LastWord(EXCEPTION_POINTERS* e) {
  wchar_t path[MAX_PATH];
  CONTEXT c = *e->ContextRecord;
  const wchar_t* name = ModuleName(c.Rip, path);
  for (int depth = 0; depth < 32; ++depth) {
    if (_wcsicmp(name, L"ucrtbase.dll") != 0 && _wcsicmp(name, L"msvcrt.dll") != 0 &&
        _wcsicmp(name, L"ntdll.dll") != 0 && _wcsicmp(name, L"kernelbase.dll") != 0)
      break;
    DWORD64 base = 0;
    PRUNTIME_FUNCTION f = ::RtlLookupFunctionEntry(c.Rip, &base, nullptr);
    if (!f) break;
    void* handler = nullptr;
    DWORD64 frame = 0;
    ::RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, c.Rip, f, &c, &handler, &frame, nullptr);
    if (!c.Rip) break;
    name = ModuleName(c.Rip, path);
  }
  char line[MAX_PATH + 64];
  int n =
      std::snprintf(line, sizeof line, "fault %llu 0x%08lX in ", static_cast<unsigned long long>(s_current),
                    static_cast<unsigned long>(e->ExceptionRecord->ExceptionCode));
  for (; *name && n < static_cast<int>(sizeof line) - 2; ++name) line[n++] = static_cast<char>(*name);
  line[n++] = '\n';
  DWORD put = 0;
  ::WriteFile(s_results, line, static_cast<DWORD>(n), &put, nullptr);
  return EXCEPTION_CONTINUE_SEARCH;
}

template <class F>
F Proc(HMODULE m, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(m, name)));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 10) return 2;
  const bool load = std::wcscmp(argv[1], L"load") == 0;
  HMODULE lib = ::LoadLibraryW(argv[2]);
  if (!lib || (!load && argc < 11)) return 2;
  const Exports dll = {Proc<decltype(Exports::Initialize)>(lib, "HkbhInitialize"),
                       Proc<decltype(Exports::Finalize)>(lib, "HkbhFinalize"),
                       Proc<decltype(Exports::GetAppDisplayNameByPFN)>(lib, "HkbhGetAppDisplayNameByPFN"),
                       Proc<decltype(Exports::ReleaseString)>(lib, "HkbhReleaseString")};
  if (!dll.Initialize || !dll.Finalize || !dll.GetAppDisplayNameByPFN || !dll.ReleaseString) return 2;
  const std::string seed = hkbtest::ReadFileBytes(argv[3]);
  const size_t closed = static_cast<size_t>(_wtoi64(argv[4]));
  s_results = ::CreateFileW(argv[6], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (seed.empty() || s_results == INVALID_HANDLE_VALUE) return 2;
  const uint32_t run_seed = static_cast<uint32_t>(_wtoi64(argv[7]));
  const uint64_t first = static_cast<uint64_t>(_wtoi64(argv[8]));
  const uint64_t count = static_cast<uint64_t>(_wtoi64(argv[9]));

  // Not a mutex under the instance mutex's name: creating that mutex fails.
  HANDLE blocker = nullptr;
  if (load) {
    wchar_t exe[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring base = std::wcsrchr(exe, L'\\') + 1;
    blocker = ::CreateEventW(nullptr, TRUE, FALSE, (L"HkbHelper_" + base.substr(0, base.find(L'.'))).c_str());
  }
  ::SetUnhandledExceptionFilter(&LastWord);
  for (uint64_t i = first; i < first + count; ++i) {
    s_current = i;
    const hkbhtest::Mutant m = hkbhtest::Mutate(seed, closed, run_seed, i);
    if (hkbhtest::WineNeverFinishes(m.text)) {
      Line("skip " + std::to_string(i) + "\n");
      continue;
    }
    if (!hkbtest::WriteFileBytes(argv[5], m.text)) return 2;
    Call call{&dll, load, load ? nullptr : argv[10], E_PENDING, {}};
    HANDLE thread = ::CreateThread(nullptr, 0, &CallThread, &call, 0, nullptr);
    if (!thread) return 2;
    if (::WaitForSingleObject(thread, 30000) != WAIT_OBJECT_0) {
      Line("hang " + std::to_string(i) + "\n");
      ::ExitProcess(13);
    }
    ::CloseHandle(thread);
    // (Wine's XmlLite reads a document without any element as a clean end.)
    if (load && m.cut && SUCCEEDED(call.hr) &&
        (!hkbhtest::UnderWine() || m.text.find("<Applications") != std::string::npos))
      call.bad = "a document cut before its root closes loaded";
    if (!call.bad.empty()) {
      Line("bad " + std::to_string(i) + " " + call.bad + "\n");
      return 14;
    }
    char line[64];
    std::snprintf(line, sizeof line, "%llu 0x%08lX\n", static_cast<unsigned long long>(i),
                  static_cast<unsigned long>(call.hr));
    Line(line);
  }
  if (blocker) ::CloseHandle(blocker);
  ::CloseHandle(s_results);
  return 0;
}
