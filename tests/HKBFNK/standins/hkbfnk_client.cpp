// A caller of HKBFNK.dll for the tests: loads the DLL from the path in its
// first argument and runs the commands that follow, appending one line per
// result to the trace (HKBFNK_TRACE), so that results and the stand-ins'
// records interleave in call order. It runs as a process of its own because
// the Windows version and the DLL overrides that the tests set for it are
// read when a process starts.
//
// Commands:
//   bright:<code>  HKBFNK_SetCurrentBright(code)    match   HKBFNK_MatchMonitorBrightness()
//   query          HKBFNK_QueryDisplayConfig()       rotate  HKBFNK_RightRotate()
//   load / unload  LoadLibraryW / FreeLibrary of the DLL (the first load is implicit)
//   coinit         CoInitializeEx(apartment) on this thread, traces the HRESULT
//   couninit       CoUninitialize on this thread
//   power          traces the ACLineStatus the system reports
//   sdc:watch      watches the DLL's SetDisplayConfig calls (passed on to the system)
//   sdc:<n>        as sdc:watch, but answers <n> instead of calling the system
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "scenario.h"

using standin::Trace;

namespace {

using SetDisplayConfigFn = LONG(WINAPI*)(UINT32, DISPLAYCONFIG_PATH_INFO*, UINT32, DISPLAYCONFIG_MODE_INFO*, UINT32);
SetDisplayConfigFn g_realSetDisplayConfig = nullptr;
bool g_forceResult = false;
LONG g_forcedResult = 0;

std::string Hex(unsigned long v) { return standin::Hex(v); }

// What the system reports now, to compare the DLL's arguments with.
std::string CompareWithCurrent(UINT32 paths, const DISPLAYCONFIG_PATH_INFO* path, UINT32 modes,
                               const DISPLAYCONFIG_MODE_INFO* mode) {
  UINT32 np = 0, nm = 0;
  if (::GetDisplayConfigBufferSizes(QDC_DATABASE_CURRENT, &np, &nm) != ERROR_SUCCESS) return "current=unknown";
  std::string cur_paths(np * sizeof(DISPLAYCONFIG_PATH_INFO), '\0');
  std::string cur_modes(nm * sizeof(DISPLAYCONFIG_MODE_INFO), '\0');
  DISPLAYCONFIG_TOPOLOGY_ID topo = {};
  if (::QueryDisplayConfig(QDC_DATABASE_CURRENT, &np, reinterpret_cast<DISPLAYCONFIG_PATH_INFO*>(cur_paths.data()),
                           &nm, reinterpret_cast<DISPLAYCONFIG_MODE_INFO*>(cur_modes.data()), &topo) != ERROR_SUCCESS)
    return "current=unknown";
  const bool modes_same = nm == modes && std::memcmp(cur_modes.data(), mode, nm * sizeof(*mode)) == 0;
  // Paths equal apart from the target rotation.
  bool others_same = np == paths;
  for (UINT32 i = 0; others_same && i < np; ++i) {
    DISPLAYCONFIG_PATH_INFO a = reinterpret_cast<const DISPLAYCONFIG_PATH_INFO*>(cur_paths.data())[i];
    DISPLAYCONFIG_PATH_INFO b = path[i];
    a.targetInfo.rotation = b.targetInfo.rotation = DISPLAYCONFIG_ROTATION_IDENTITY;
    others_same = std::memcmp(&a, &b, sizeof a) == 0;
  }
  return std::string("modes=") + (modes_same ? "asread" : "changed") +
         " pathfields=" + (others_same ? "asread" : "changed");
}

LONG WINAPI WatchSetDisplayConfig(UINT32 paths, DISPLAYCONFIG_PATH_INFO* path, UINT32 modes,
                                  DISPLAYCONFIG_MODE_INFO* mode, UINT32 flags) {
  std::string line = "sdc paths=" + std::to_string(paths) + " modes=" + std::to_string(modes) +
                     " flags=" + Hex(flags);
  for (UINT32 i = 0; path && i < paths; ++i) {
    line += " path" + std::to_string(i) + "=status:" + std::to_string(path[i].targetInfo.statusFlags) +
            ",rotation:" + std::to_string(path[i].targetInfo.rotation);
  }
  line += " " + CompareWithCurrent(paths, path, modes, mode);
  const LONG result = g_forceResult ? g_forcedResult : g_realSetDisplayConfig(paths, path, modes, mode, flags);
  Trace(line + " -> " + std::to_string(result));
  return result;
}

// Points the DLL's import of `name` from `dll` at `replacement`.
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
      auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<char*>(by_name->Name), name) != 0) continue;
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

template <class Fn>
Fn Proc(HMODULE m, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m, name)));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const wchar_t* dll_path = argv[1];
  HMODULE dll = ::LoadLibraryW(dll_path);
  Trace(std::string("client load = ") + (dll ? "ok" : "failed " + std::to_string(::GetLastError())));
  if (!dll) return 3;

  for (int i = 2; i < argc; ++i) {
    const std::string cmd = standin::Utf8(argv[i]);
    if (cmd == "load") {
      dll = ::LoadLibraryW(dll_path);
      Trace(std::string("client load = ") + (dll ? "ok" : "failed"));
      continue;
    }
    if (cmd == "coinit") {
      Trace("client coinit = " + Hex(static_cast<unsigned long>(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))));
      continue;
    }
    if (cmd == "couninit") {
      ::CoUninitialize();
      Trace("client couninit = done");
      continue;
    }
    if (cmd == "power") {
      SYSTEM_POWER_STATUS st = {};
      const BOOL ok = ::GetSystemPowerStatus(&st);
      Trace("client power = " + std::string(ok ? std::to_string(st.ACLineStatus) : "failed"));
      continue;
    }
    if (!dll) {
      Trace("client " + cmd + " = not loaded");
      continue;
    }
    if (cmd == "unload") {
      ::FreeLibrary(dll);
      dll = nullptr;
      Trace("client unload = done");
    } else if (cmd.rfind("bright:", 0) == 0) {
      auto fn = Proc<int (*)(int)>(dll, "HKBFNK_SetCurrentBright");
      Trace("client " + cmd + " = " + std::to_string(fn(std::stoi(cmd.substr(7)))));
    } else if (cmd == "match" || cmd == "query" || cmd == "rotate") {
      const char* name = cmd == "match"   ? "HKBFNK_MatchMonitorBrightness"
                         : cmd == "query" ? "HKBFNK_QueryDisplayConfig"
                                          : "HKBFNK_RightRotate";
      auto fn = Proc<int (*)()>(dll, name);
      Trace("client " + cmd + " = " + std::to_string(fn()));
    } else if (cmd.rfind("sdc:", 0) == 0) {
      const std::string arg = cmd.substr(4);
      g_forceResult = arg != "watch";
      if (g_forceResult) g_forcedResult = std::stol(arg);
      void* original = nullptr;
      const bool ok = PatchImport(dll, "user32.dll", "SetDisplayConfig",
                                  reinterpret_cast<void*>(&WatchSetDisplayConfig), &original);
      if (ok && !g_realSetDisplayConfig) g_realSetDisplayConfig = reinterpret_cast<SetDisplayConfigFn>(original);
      Trace("client " + cmd + " = " + (ok ? "ok" : "failed"));
    } else {
      Trace("client " + cmd + " = unknown command");
    }
  }
  Trace("client end");
  return 0;
}
