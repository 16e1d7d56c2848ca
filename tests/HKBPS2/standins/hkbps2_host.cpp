// Stand-in for the resident button service: owns a "ZEVHKBCLASS" window,
// loads HKBPS2.dll from the path given on the command line, and reports what
// it saw as "name=value" lines in a result file.
//   hkbps2_host probe <dll> <result>  open, start, queue one report, watch for its message
//   hkbps2_host inert <dll> <result>  as probe, but holds the library until the event
//                                     "HKBPS2Test.Host.Release" is set (at most 20 s),
//                                     setting "HKBPS2Test.Host.Loaded" once started
//   hkbps2_host race <dll> <result>   one of several processes loading at the same moment:
//                                     releases the semaphore "HKBPS2Test.Race.Ready", loads when
//                                     the event "HKBPS2Test.Race.Go" is set, opens and starts,
//                                     releases "HKBPS2Test.Race.Loaded", and holds the library
//                                     until "HKBPS2Test.Race.End" is set
#include <windows.h>

#include <cstdio>
#include <string>

#include "hkb/sync.h"
#include "hkbledfiltr_ioctl.h"
#include "hkbtest/process.h"
#include "hkbtest/pump.h"

using namespace std::chrono_literals;

namespace {

constexpr UINT kButtonCode = 0x0534;
constexpr uint8_t kProbeCode = 77;
constexpr DWORD kVirtualDeviceCode = 0x222400;  // buffered, any access: the host value

int s_messages = 0;
int s_probeMessages = 0;

LRESULT CALLBACK HostProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg >= WM_USER) {
    ++s_messages;
    if (msg == kButtonCode && wParam == kProbeCode && lParam == 1) ++s_probeMessages;
  }
  return ::DefWindowProcW(wnd, msg, wParam, lParam);
}

hkbtest_stats Stats(HANDLE driver) {
  hkbtest_stats s = {};
  DWORD got = 0;
  if (driver) ::DeviceIoControl(driver, HKBTEST_IOCTL_STATS, nullptr, 0, &s, sizeof s, &got, nullptr);
  return s;
}

// Threads of this process that started in the module's code.
int ThreadsStartedIn(HMODULE module) {
  int n = 0;
  for (DWORD id : hkbtest::ThreadIds()) n += hkbtest::StartsInModule(id, module) ? 1 : 0;
  return n;
}

// Waits for a named event (set by the test), dispatching this thread's messages.
bool WaitForNamedEvent(const wchar_t* name, std::chrono::milliseconds timeout) {
  hkb::UniqueHandle event(::OpenEventW(SYNCHRONIZE, FALSE, name));
  if (!event) return false;
  return hkbtest::PumpUntil([&] { return ::WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0; }, timeout);
}

bool ReleaseNamedSemaphore(const wchar_t* name) {
  hkb::UniqueHandle semaphore(::OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, name));
  return semaphore && ::ReleaseSemaphore(semaphore.get(), 1, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  const std::wstring mode = argv[1];
  const bool inert = mode == L"inert";
  const bool race = mode == L"race";
  if (!inert && !race && mode != L"probe") return 2;

  WNDCLASSW wc = {};
  wc.lpfnWndProc = &HostProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ZEVHKBCLASS";
  ::RegisterClassW(&wc);
  const HWND host = ::CreateWindowExW(0, wc.lpszClassName, L"button service stand-in", WS_POPUP, 0, 0, 1, 1,
                                      nullptr, nullptr, wc.hInstance, nullptr);
  if (!host) return 3;

  hkb::UniqueFile driverFile(::CreateFileW(L"\\\\.\\HKBLEDFILTR", GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                           nullptr));
  const HANDLE driver = driverFile ? driverFile.get() : nullptr;
  const hkbtest_stats before = Stats(driver);

  OSVERSIONINFOW vi = {};
  vi.dwOSVersionInfoSize = sizeof vi;
  ::GetVersionExW(&vi);

  if (race) {
    if (!ReleaseNamedSemaphore(L"HKBPS2Test.Race.Ready")) return 7;
    if (!WaitForNamedEvent(L"HKBPS2Test.Race.Go", 60s)) return 8;
  }
  hkb::UniqueModule lib(::LoadLibraryW(argv[2]));
  if (!lib) return 4;
  using OpenFn = int (*)();
  using StartFn = int (*)(HWND, DWORD);
  using StopFn = void (*)();
  auto open =
      reinterpret_cast<OpenFn>(reinterpret_cast<void*>(::GetProcAddress(lib.get(), "HKBPS2_OpenDevice")));
  auto start =
      reinterpret_cast<StartFn>(reinterpret_cast<void*>(::GetProcAddress(lib.get(), "HKBPS2_Start")));
  auto stop = reinterpret_cast<StopFn>(reinterpret_cast<void*>(::GetProcAddress(lib.get(), "HKBPS2_Stop")));
  if (!open || !start || !stop) return 5;

  const int opened = open();
  const int started = start(host, kVirtualDeviceCode);
  // Start waits for the hidden window of an initialising process: its worker
  // exists by now, and an inert process never has one.
  const int workerThreads = ThreadsStartedIn(lib.get());
  const HWND hidden = ::FindWindowW(L"HKBPS2WNDCLASS", L"ZEV Kivo Button for PS/2");
  DWORD hiddenPid = 0;
  if (hidden) ::GetWindowThreadProcessId(hidden, &hiddenPid);

  if (inert) {
    hkb::Event loaded = hkb::Event::create(true, false, L"HKBPS2Test.Host.Loaded");
    loaded.set();
    WaitForNamedEvent(L"HKBPS2Test.Host.Release", 20s);
  } else if (race) {
    if (!ReleaseNamedSemaphore(L"HKBPS2Test.Race.Loaded")) return 9;
    WaitForNamedEvent(L"HKBPS2Test.Race.End", 60s);
  } else {
    const uint8_t report[HKBTEST_REPORT_SIZE] = {5, 0, 0, kProbeCode, 0, 0, 0, 0, 0};
    DWORD got = 0;
    ::DeviceIoControl(driver, HKBTEST_IOCTL_QUEUE, const_cast<uint8_t*>(report), sizeof report, nullptr, 0,
                      &got, nullptr);
    // A process that opened a device polls it and decodes the report; one
    // that opened none (an unclassified release) never reads, so there is
    // nothing to wait for.
    const hkbtest_stats now = Stats(driver);
    if (now.opens != before.opens || now.vxdOpens != before.vxdOpens) {
      hkbtest::PumpUntil([] { return s_probeMessages > 0; }, 30s);
    }
  }
  stop();
  const hkbtest_stats after = Stats(driver);
  lib.reset();

  FILE* f = _wfopen(argv[3], L"w");
  if (!f) return 6;
  std::fprintf(f, "version=%lu.%lu.%lu\n", vi.dwMajorVersion, vi.dwMinorVersion, vi.dwBuildNumber & 0xFFFF);
  std::fprintf(f, "open=%d\nstart=%d\n", opened, started);
  std::fprintf(f, "worker_threads=%d\n", workerThreads);
  std::fprintf(f, "own_hidden_window=%d\n", hidden && hiddenPid == ::GetCurrentProcessId() ? 1 : 0);
  std::fprintf(f, "messages=%d\nprobe_messages=%d\n", s_messages, s_probeMessages);
  std::fprintf(f, "filter_opens=%u\nvxd_opens=%u\n", after.opens - before.opens,
               after.vxdOpens - before.vxdOpens);
  std::fprintf(f, "filter_reads=%u\nvxd_reads=%u\nvxd_code=0x%X\n", after.reads - before.reads,
               after.vxdReads - before.vxdReads, after.vxdLastCode);
  std::fclose(f);
  ::DestroyWindow(host);
  return 0;
}
