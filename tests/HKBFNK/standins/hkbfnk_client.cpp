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
//   coinit:mta     the same for the multithreaded apartment
//   onthread:<cmd> runs one command on a new thread and waits for it
//   couninit       CoUninitialize on this thread
//   power          traces the ACLineStatus the system reports
//   sdc:watch      watches the DLL's SetDisplayConfig calls (passed on to the system)
//   sdc:<n>        as sdc:watch, but answers <n> instead of calling the system
//   qdc:watch      watches the DLL's GetDisplayConfigBufferSizes and QueryDisplayConfig calls
//   qdc:<n>,<n>..  as qdc:watch; the first QueryDisplayConfig calls answer these results
//                  (after filling in what the system reports), later ones pass through
//   qdc:fake=<topology>/<status>:<rotation>,...  as qdc:watch, but both calls report this
//                  configuration instead of the system's (use with sdc:<n>)
//   loop:<n>       n rounds of up, down, match, query and rotate; traces the
//                  process's handles, private bytes and GDI/USER objects before and after
//   time:<n>:<what> mean microseconds per call over n calls of an export
//                  (bright, match, query, rotate) or of a baseline: rawquery (the
//                  two display calls alone), rawwmi (one brightness walk over a
//                  connection of the caller's own), rawbright (the platform calls a
//                  brightness step must make: one full instance walk and the set
//                  method's calls), rawmatch (those of a match at the scheme's
//                  value: the power-scheme calls and one full instance walk)
#include <windows.h>
#include <objbase.h>
#include <wbemcli.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hkb/com.h"
#include "hkbtest/leaks.h"
#include "hkbtest/process.h"
#include "scenario.h"

namespace {
void Trace(const std::string& line) { standin::Trace(line, true); }
}  // namespace

namespace {

using SetDisplayConfigFn = LONG(WINAPI*)(UINT32, DISPLAYCONFIG_PATH_INFO*, UINT32, DISPLAYCONFIG_MODE_INFO*,
                                         UINT32);
SetDisplayConfigFn s_realSetDisplayConfig = nullptr;
bool s_forceResult = false;
LONG s_forcedResult = 0;

std::string Hex(unsigned long v) { return standin::Hex(v); }

using SizesFn = LONG(WINAPI*)(UINT32, UINT32*, UINT32*);
using QueryFn = LONG(WINAPI*)(UINT32, UINT32*, DISPLAYCONFIG_PATH_INFO*, UINT32*, DISPLAYCONFIG_MODE_INFO*,
                              DISPLAYCONFIG_TOPOLOGY_ID*);
SizesFn s_realSizes = nullptr;
QueryFn s_realQuery = nullptr;
std::vector<LONG> s_queryScript;

// A configuration the watched calls report instead of the system's: its
// topology and, per path, the target's status flags and rotation (one mode
// entry per path, zero-filled).
struct FakeConfig {
  bool on = false;
  UINT32 topology = 0;
  std::vector<std::pair<UINT32, UINT32>> targets;
};
FakeConfig s_fake;

// "<topology>/<status>:<rotation>,<status>:<rotation>..." (no paths after the slash: none).
FakeConfig ParseFake(const std::string& text) {
  FakeConfig f;
  f.on = true;
  const size_t slash = text.find('/');
  f.topology = static_cast<UINT32>(std::stoul(text.substr(0, slash)));
  for (size_t at = slash + 1; slash != std::string::npos && at < text.size();) {
    size_t comma = text.find(',', at);
    if (comma == std::string::npos) comma = text.size();
    const std::string one = text.substr(at, comma - at);
    const size_t colon = one.find(':');
    f.targets.emplace_back(static_cast<UINT32>(std::stoul(one.substr(0, colon))),
                           static_cast<UINT32>(std::stoul(one.substr(colon + 1))));
    at = comma + 1;
  }
  return f;
}

LONG WINAPI WatchSizes(UINT32 flags, UINT32* paths, UINT32* modes) {
  LONG r;
  if (s_fake.on) {
    *paths = *modes = static_cast<UINT32>(s_fake.targets.size());
    r = ERROR_SUCCESS;
  } else {
    r = s_realSizes(flags, paths, modes);
  }
  Trace("display sizes flags=" + Hex(flags) + " -> " + std::to_string(r));
  return r;
}

LONG WINAPI WatchQuery(UINT32 flags, UINT32* np, DISPLAYCONFIG_PATH_INFO* paths, UINT32* nm,
                       DISPLAYCONFIG_MODE_INFO* modes, DISPLAYCONFIG_TOPOLOGY_ID* topology) {
  LONG r;
  if (s_fake.on) {
    r = *np < s_fake.targets.size() ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS;
    if (r == ERROR_SUCCESS) {
      for (UINT32 i = 0; i < s_fake.targets.size(); ++i) {
        paths[i] = {};
        paths[i].targetInfo.statusFlags = s_fake.targets[i].first;
        paths[i].targetInfo.rotation = static_cast<DISPLAYCONFIG_ROTATION>(s_fake.targets[i].second);
        modes[i] = {};
      }
      *np = *nm = static_cast<UINT32>(s_fake.targets.size());
      if (topology) *topology = static_cast<DISPLAYCONFIG_TOPOLOGY_ID>(s_fake.topology);
    }
  } else {
    r = s_realQuery(flags, np, paths, nm, modes, topology);
  }
  if (!s_queryScript.empty()) {
    r = s_queryScript.front();
    s_queryScript.erase(s_queryScript.begin());
  }
  Trace("display query flags=" + Hex(flags) + " topology=" + (topology ? "asked" : "null") + " -> " +
        std::to_string(r));
  return r;
}

// What the system reports now, to compare the DLL's arguments with.
std::string CompareWithCurrent(UINT32 paths, const DISPLAYCONFIG_PATH_INFO* path, UINT32 modes,
                               const DISPLAYCONFIG_MODE_INFO* mode) {
  UINT32 np = 0, nm = 0;
  if (::GetDisplayConfigBufferSizes(QDC_DATABASE_CURRENT, &np, &nm) != ERROR_SUCCESS)
    return "current=unknown";
  std::string currentPaths(np * sizeof(DISPLAYCONFIG_PATH_INFO), '\0');
  std::string currentModes(nm * sizeof(DISPLAYCONFIG_MODE_INFO), '\0');
  DISPLAYCONFIG_TOPOLOGY_ID topo = {};
  if (::QueryDisplayConfig(
          QDC_DATABASE_CURRENT, &np, reinterpret_cast<DISPLAYCONFIG_PATH_INFO*>(currentPaths.data()), &nm,
          reinterpret_cast<DISPLAYCONFIG_MODE_INFO*>(currentModes.data()), &topo) != ERROR_SUCCESS)
    return "current=unknown";
  const bool modesSame = nm == modes && std::memcmp(currentModes.data(), mode, nm * sizeof(*mode)) == 0;
  // Paths equal apart from the target rotation.
  bool othersSame = np == paths;
  for (UINT32 i = 0; othersSame && i < np; ++i) {
    DISPLAYCONFIG_PATH_INFO a = reinterpret_cast<const DISPLAYCONFIG_PATH_INFO*>(currentPaths.data())[i];
    DISPLAYCONFIG_PATH_INFO b = path[i];
    a.targetInfo.rotation = b.targetInfo.rotation = DISPLAYCONFIG_ROTATION_IDENTITY;
    othersSame = std::memcmp(&a, &b, sizeof a) == 0;
  }
  return std::string("modes=") + (modesSame ? "asread" : "changed") +
         " pathfields=" + (othersSame ? "asread" : "changed");
}

LONG WINAPI WatchSetDisplayConfig(UINT32 paths, DISPLAYCONFIG_PATH_INFO* path, UINT32 modes,
                                  DISPLAYCONFIG_MODE_INFO* mode, UINT32 flags) {
  std::string line =
      "sdc paths=" + std::to_string(paths) + " modes=" + std::to_string(modes) + " flags=" + Hex(flags);
  for (UINT32 i = 0; path && i < paths; ++i) {
    line += " path" + std::to_string(i) + "=status:" + std::to_string(path[i].targetInfo.statusFlags) +
            ",rotation:" + std::to_string(path[i].targetInfo.rotation);
  }
  line += " " + (s_fake.on ? std::string("config=fake") : CompareWithCurrent(paths, path, modes, mode));
  const LONG result =
      s_forceResult ? s_forcedResult : s_realSetDisplayConfig(paths, path, modes, mode, flags);
  Trace(line + " -> " + std::to_string(result));
  return result;
}

template <class Fn>
Fn Proc(HMODULE m, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m, name)));
}

struct Usage {
  DWORD handles = 0;
  SIZE_T privateBytes = 0;
  DWORD gdi = 0;
  DWORD user = 0;
};

Usage Measure() {
  Usage u;
  // Handles are probed slot by slot where the platform does not count them.
  const hkbtest::ResourceUse use = hkbtest::MeasureResources();
  u.handles = use.handles;
  u.privateBytes = use.privateBytes;
  u.gdi = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
  u.user = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
  return u;
}

std::string Span(unsigned long long a, unsigned long long b) {
  return std::to_string(a) + "->" + std::to_string(b);
}

// Baselines over a WMI connection of the caller's own: one brightness walk
// that reads a single property, and the exact platform calls the brightness
// exports make once the connection and the level table are there.
struct OwnWmi {
  hkb::ComInit com;
  hkb::ComPtr<IWbemLocator> locator;
  hkb::ComPtr<IWbemServices> services;
  wchar_t panel[256] = {};
  OwnWmi() {
    const CLSID clsid = {0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
    const IID iid = {0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
    if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, locator.put_void()))) return;
    hkb::Bstr ns(L"ROOT\\WMI");
    locator->ConnectServer(ns.get(), nullptr, nullptr, nullptr, 0x80, nullptr, nullptr, services.put());
  }
  void Walk() {
    if (!services) return;
    hkb::Bstr cls(L"WmiMonitorBrightness");
    hkb::ComPtr<IEnumWbemClassObject> instances;
    if (FAILED(services->CreateInstanceEnum(cls.get(), 0x30, nullptr, instances.put())) || !instances) return;
    for (;;) {
      hkb::ComPtr<IWbemClassObject> object;
      ULONG got = 0;
      if (instances->Next(WBEM_INFINITE, 1, object.put(), &got) != 0 || got != 1) break;
      hkb::Variant value;
      object->Get(L"CurrentBrightness", 0, value.put(), nullptr, nullptr);
    }
  }
  // The instance walk of a brightness read: every property of every instance
  // through BeginEnumeration / Next / EndEnumeration; keeps the instance name.
  int FullWalk() {
    int current = 0;
    if (!services) return current;
    hkb::Bstr cls(L"WmiMonitorBrightness");
    hkb::ComPtr<IEnumWbemClassObject> instances;
    if (FAILED(services->CreateInstanceEnum(cls.get(), 0x30, nullptr, instances.put())) || !instances)
      return current;
    for (;;) {
      hkb::ComPtr<IWbemClassObject> object;
      ULONG got = 0;
      if (instances->Next(WBEM_INFINITE, 1, object.put(), &got) != 0 || got == 0) break;
      if (object->BeginEnumeration(0) != 0) continue;
      for (;;) {
        hkb::Bstr name;
        hkb::Variant value;
        CIMTYPE type = 0;
        long flavor = 0;
        if (object->Next(0, name.put(), value.put(), &type, &flavor) != 0) break;
        if (!name.get()) continue;
        if (std::wcscmp(name.get(), L"InstanceName") == 0 && value.get().vt == VT_BSTR)
          std::wcsncpy(panel, value.get().bstrVal, 255);
        else if (std::wcscmp(name.get(), L"CurrentBrightness") == 0)
          current = value.get().bVal;
      }
      object->EndEnumeration();
    }
    return current;
  }
  // The set method's calls, each after the one before succeeded.
  void Set(int level) {
    if (!services) return;
    const std::wstring path = std::wstring(L"WmiMonitorBrightnessMethods.InstanceName='") + panel + L"'";
    hkb::Bstr cls(L"WmiMonitorBrightnessMethods"), method(L"WmiSetBrightness"), objectPath(path.c_str()),
        brightness(std::to_wstring(level).c_str()), timeout(L"0");
    hkb::ComPtr<IWbemClassObject> classObject, signature, in, out;
    if (services->GetObject(cls.get(), 0, nullptr, classObject.put(), nullptr) != 0) return;
    if (classObject->GetMethod(method.get(), 0, signature.put(), nullptr) != 0) return;
    if (signature->SpawnInstance(0, in.put()) != 0) return;
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = brightness.get();
    if (in->Put(L"Brightness", 0, &v, CIM_UINT8) != 0) return;
    v.bstrVal = timeout.get();
    if (in->Put(L"Timeout", 0, &v, CIM_UINT32) != 0) return;
    if (services->ExecMethod(objectPath.get(), method.get(), 0, nullptr, in.get(), out.put(), nullptr) != 0)
      return;
    if (out) {
      hkb::Variant result;
      out->Get(L"ReturnValue", 0, result.put(), nullptr, nullptr);
    }
  }
};

// The power-scheme calls of a match, through the same powrprof.dll the DLL gets.
struct OwnPower {
  using ActiveFn = DWORD(WINAPI*)(HKEY, GUID**);
  using ReadFn = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, DWORD*);
  HMODULE module = ::LoadLibraryW(L"powrprof.dll");
  ActiveFn active = Proc<ActiveFn>(module, "PowerGetActiveScheme");
  ReadFn readAc = Proc<ReadFn>(module, "PowerReadACValueIndex");
  ReadFn readDc = Proc<ReadFn>(module, "PowerReadDCValueIndex");
  ~OwnPower() {
    if (module) ::FreeLibrary(module);
  }
  DWORD Read() {
    const GUID subgroup = {0x7516B95F, 0xF776, 0x4464, {0x8C, 0x53, 0x06, 0x16, 0x7F, 0x40, 0xCC, 0x99}};
    const GUID setting = {0xADED5E82, 0xB909, 0x4619, {0x99, 0x49, 0xF5, 0xD7, 0x1D, 0xAC, 0x0B, 0xCB}};
    GUID* scheme = nullptr;
    if (!active || active(nullptr, &scheme) != 0 || !scheme) return 0;
    const GUID copy = *scheme;
    ::LocalFree(scheme);
    SYSTEM_POWER_STATUS status = {};
    if (!::GetSystemPowerStatus(&status)) return 0;
    DWORD value = 0;
    (status.ACLineStatus == 1 ? readAc : readDc)(nullptr, &copy, &subgroup, &setting, &value);
    return value;
  }
};

void RawQuery() {
  UINT32 np = 0, nm = 0;
  if (::GetDisplayConfigBufferSizes(QDC_DATABASE_CURRENT, &np, &nm) != ERROR_SUCCESS) return;
  std::string paths(np * sizeof(DISPLAYCONFIG_PATH_INFO), '\0');
  std::string modes(nm * sizeof(DISPLAYCONFIG_MODE_INFO), '\0');
  DISPLAYCONFIG_TOPOLOGY_ID topo = {};
  ::QueryDisplayConfig(QDC_DATABASE_CURRENT, &np, reinterpret_cast<DISPLAYCONFIG_PATH_INFO*>(paths.data()),
                       &nm, reinterpret_cast<DISPLAYCONFIG_MODE_INFO*>(modes.data()), &topo);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const wchar_t* dllPath = argv[1];
  HMODULE dll = ::LoadLibraryW(dllPath);
  Trace(std::string("client load = ") + (dll ? "ok" : "failed " + std::to_string(::GetLastError())));
  if (!dll) return 3;

  std::function<void(const std::string&)> run = [&](const std::string& cmd) {
    if (cmd.rfind("onthread:", 0) == 0) {
      // One command on a thread of its own, waited for.
      struct Job {
        std::function<void(const std::string&)>* run;
        std::string cmd;
      } job{&run, cmd.substr(9)};
      HANDLE t = ::CreateThread(
          nullptr, 0,
          [](void* p) -> DWORD {
            auto* j = static_cast<Job*>(p);
            (*j->run)(j->cmd);
            return 0;
          },
          &job, 0, nullptr);
      if (t) {
        ::WaitForSingleObject(t, INFINITE);
        ::CloseHandle(t);
      }
      return;
    }
    if (cmd == "load") {
      dll = ::LoadLibraryW(dllPath);
      Trace(std::string("client load = ") + (dll ? "ok" : "failed"));
      return;
    }
    if (cmd == "coinit" || cmd == "coinit:mta") {
      const DWORD model = cmd == "coinit" ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED;
      Trace("client " + cmd + " = " + Hex(static_cast<unsigned long>(::CoInitializeEx(nullptr, model))));
      return;
    }
    if (cmd == "couninit") {
      ::CoUninitialize();
      Trace("client couninit = done");
      return;
    }
    if (cmd == "power") {
      SYSTEM_POWER_STATUS st = {};
      const BOOL ok = ::GetSystemPowerStatus(&st);
      Trace("client power = " + std::string(ok ? std::to_string(st.ACLineStatus) : "failed"));
      return;
    }
    if (!dll) {
      Trace("client " + cmd + " = not loaded");
      return;
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
    } else if (cmd.rfind("qdc:", 0) == 0) {
      const std::string arg = cmd.substr(4);
      s_queryScript.clear();
      if (arg.rfind("fake=", 0) == 0) s_fake = ParseFake(arg.substr(5));
      for (size_t at = 0; arg != "watch" && !s_fake.on && at < arg.size();) {
        size_t comma = arg.find(',', at);
        if (comma == std::string::npos) comma = arg.size();
        s_queryScript.push_back(std::stol(arg.substr(at, comma - at)));
        at = comma + 1;
      }
      void* sizes = nullptr;
      void* query = nullptr;
      const bool ok = (s_realSizes || hkbtest::PatchImport(dll, "user32.dll", "GetDisplayConfigBufferSizes",
                                                           reinterpret_cast<void*>(&WatchSizes), &sizes)) &&
                      (s_realQuery || hkbtest::PatchImport(dll, "user32.dll", "QueryDisplayConfig",
                                                           reinterpret_cast<void*>(&WatchQuery), &query));
      if (sizes) s_realSizes = reinterpret_cast<SizesFn>(sizes);
      if (query) s_realQuery = reinterpret_cast<QueryFn>(query);
      Trace("client " + cmd + " = " + (ok ? "ok" : "failed"));
    } else if (cmd.rfind("sdc:", 0) == 0) {
      const std::string arg = cmd.substr(4);
      s_forceResult = arg != "watch";
      if (s_forceResult) s_forcedResult = std::stol(arg);
      void* original = nullptr;
      const bool ok = hkbtest::PatchImport(dll, "user32.dll", "SetDisplayConfig",
                                           reinterpret_cast<void*>(&WatchSetDisplayConfig), &original);
      if (ok && !s_realSetDisplayConfig)
        s_realSetDisplayConfig = reinterpret_cast<SetDisplayConfigFn>(original);
      Trace("client " + cmd + " = " + (ok ? "ok" : "failed"));
    } else if (cmd.rfind("loop:", 0) == 0) {
      const int rounds = std::stoi(cmd.substr(5));
      auto bright = Proc<int (*)(int)>(dll, "HKBFNK_SetCurrentBright");
      auto match = Proc<int (*)()>(dll, "HKBFNK_MatchMonitorBrightness");
      auto query = Proc<int (*)()>(dll, "HKBFNK_QueryDisplayConfig");
      auto rotate = Proc<int (*)()>(dll, "HKBFNK_RightRotate");
      int failures = 0;
      auto round = [&] {
        failures += bright(2) == 0;
        failures += bright(3) == 0;
        failures += match() == 0;
        failures += query() == 0;
        failures += rotate() == 0;
      };
      round();  // connection, table and version code are made once
      const Usage before = Measure();
      for (int n = 0; n < rounds; ++n) round();
      const Usage after = Measure();
      Trace("client " + cmd + " = failures:" + std::to_string(failures) +
            " handles:" + Span(before.handles, after.handles) +
            " private:" + Span(before.privateBytes, after.privateBytes) +
            " gdi:" + Span(before.gdi, after.gdi) + " user:" + Span(before.user, after.user));
    } else if (cmd.rfind("time:", 0) == 0) {
      const size_t colon = cmd.find(':', 5);
      const int calls = std::stoi(cmd.substr(5, colon - 5));
      const std::string what = cmd.substr(colon + 1);
      auto bright = Proc<int (*)(int)>(dll, "HKBFNK_SetCurrentBright");
      auto match = Proc<int (*)()>(dll, "HKBFNK_MatchMonitorBrightness");
      auto query = Proc<int (*)()>(dll, "HKBFNK_QueryDisplayConfig");
      auto rotate = Proc<int (*)()>(dll, "HKBFNK_RightRotate");
      std::unique_ptr<OwnWmi> own;
      std::unique_ptr<OwnPower> power;
      if (what.rfind("raw", 0) == 0 && what != "rawquery") own = std::make_unique<OwnWmi>();
      if (what == "rawmatch") power = std::make_unique<OwnPower>();
      int level = 0;
      auto call = [&](int n) {
        if (what == "bright")
          bright(n % 2 ? 3 : 2);
        else if (what == "match")
          match();
        else if (what == "query")
          query();
        else if (what == "rotate")
          rotate();
        else if (what == "rawquery")
          RawQuery();
        else if (what == "rawwmi")
          own->Walk();
        else if (what == "rawbright") {
          // A step: a read, then the set of the next level (the table as the scenario's).
          level = own->FullWalk();
          own->Set(n % 2 ? level - 10 : level + 10);
        } else if (what == "rawmatch") {
          // A match with the panel at the scheme's value: nothing to set.
          const DWORD scheme = power->Read();
          if (static_cast<DWORD>(own->FullWalk()) != scheme) own->Set(static_cast<int>(scheme));
        }
      };
      call(1);  // first use sets things up
      LARGE_INTEGER f, t0, t1;
      ::QueryPerformanceFrequency(&f);
      ::QueryPerformanceCounter(&t0);
      for (int n = 0; n < calls; ++n) call(n);
      ::QueryPerformanceCounter(&t1);
      const double us =
          1e6 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart) / calls;
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.2f", us);
      Trace("client " + cmd + " = " + buf);
    } else {
      Trace("client " + cmd + " = unknown command");
    }
  };
  for (int i = 2; i < argc; ++i) run(standin::Utf8(argv[i]));
  Trace("client end");
  return 0;
}
