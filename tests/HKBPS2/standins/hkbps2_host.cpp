// Stand-in for the resident button service: owns a "ZEVHKBCLASS" window,
// loads HKBPS2.dll from the folder given on the command line, and reports
// what it saw as "name=value" lines in a result file.
//   hkbps2_host probe <dll> <result>   open, start, queue one report, watch for its message
//   hkbps2_host inert <dll> <result>   as probe, but holds the library until the
//                                      event "HKBPS2Test.Host.Release" is set (at most 20 s),
//                                      setting "HKBPS2Test.Host.Loaded" once started
#include <windows.h>

#include <cstdio>
#include <string>

#include "hkbledfiltr_ioctl.h"

namespace {

constexpr UINT kButtonCode = 0x0534;
constexpr uint8_t kProbeCode = 77;
constexpr DWORD kVirtualDeviceCode = 0x222400;  // buffered, any access: the host value

int g_messages = 0;
int g_probe_messages = 0;

LRESULT CALLBACK HostProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg >= WM_USER) {
    ++g_messages;
    if (msg == kButtonCode && wp == kProbeCode && lp == 1) ++g_probe_messages;
  }
  return ::DefWindowProcW(wnd, msg, wp, lp);
}

void Pump(DWORD ms, bool until_probe) {
  const ULONGLONG end = ::GetTickCount64() + ms;
  while (::GetTickCount64() < end) {
    MSG m;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&m);
    if (until_probe && g_probe_messages > 0) return;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

hkbtest_stats Stats(HANDLE driver) {
  hkbtest_stats s = {};
  DWORD got = 0;
  if (driver != INVALID_HANDLE_VALUE) {
    ::DeviceIoControl(driver, HKBTEST_IOCTL_STATS, nullptr, 0, &s, sizeof s, &got, nullptr);
  }
  return s;
}

int ThreadsInProcess();

}  // namespace

#include <tlhelp32.h>

namespace {
int ThreadsInProcess() {
  HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 te = {};
  te.dwSize = sizeof te;
  int n = 0;
  for (BOOL ok = ::Thread32First(snap, &te); ok; ok = ::Thread32Next(snap, &te)) {
    if (te.th32OwnerProcessID == ::GetCurrentProcessId()) ++n;
  }
  ::CloseHandle(snap);
  return n;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  const std::wstring mode = argv[1];
  const bool inert = mode == L"inert";
  if (!inert && mode != L"probe") return 2;

  WNDCLASSW wc = {};
  wc.lpfnWndProc = &HostProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ZEVHKBCLASS";
  ::RegisterClassW(&wc);
  HWND host = ::CreateWindowExW(0, wc.lpszClassName, L"button service stand-in", WS_POPUP, 0, 0, 1, 1,
                                nullptr, nullptr, wc.hInstance, nullptr);
  if (!host) return 3;

  HANDLE driver = ::CreateFileW(L"\\\\.\\HKBLEDFILTR", GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  const hkbtest_stats before = Stats(driver);

  OSVERSIONINFOW vi = {};
  vi.dwOSVersionInfoSize = sizeof vi;
  ::GetVersionExW(&vi);

  const int threads_before = ThreadsInProcess();
  HMODULE lib = ::LoadLibraryW(argv[2]);
  if (!lib) return 4;
  ::Sleep(300);  // a worker thread, if any, is up by now
  const int threads_after = ThreadsInProcess();
  using OpenFn = int (*)();
  using StartFn = int (*)(HWND, DWORD);
  using StopFn = void (*)();
  auto open = reinterpret_cast<OpenFn>(reinterpret_cast<void*>(::GetProcAddress(lib, "HKBPS2_OpenDevice")));
  auto start = reinterpret_cast<StartFn>(reinterpret_cast<void*>(::GetProcAddress(lib, "HKBPS2_Start")));
  auto stop = reinterpret_cast<StopFn>(reinterpret_cast<void*>(::GetProcAddress(lib, "HKBPS2_Stop")));
  if (!open || !start || !stop) return 5;

  const int opened = open();
  const int started = start(host, kVirtualDeviceCode);
  const HWND hidden = ::FindWindowW(L"HKBPS2WNDCLASS", L"ZEV Kivo Button for PS/2");
  DWORD hidden_pid = 0;
  if (hidden) ::GetWindowThreadProcessId(hidden, &hidden_pid);

  if (inert) {
    HANDLE loaded = ::CreateEventW(nullptr, TRUE, FALSE, L"HKBPS2Test.Host.Loaded");
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, L"HKBPS2Test.Host.Release");
    ::SetEvent(loaded);
    const ULONGLONG end = ::GetTickCount64() + 20000;
    while (::GetTickCount64() < end && ::WaitForSingleObject(release, 0) != WAIT_OBJECT_0) Pump(20, false);
    ::CloseHandle(loaded);
    ::CloseHandle(release);
  } else {
    const uint8_t report[HKBTEST_REPORT_SIZE] = {5, 0, 0, kProbeCode, 0, 0, 0, 0, 0};
    DWORD got = 0;
    ::DeviceIoControl(driver, HKBTEST_IOCTL_QUEUE, const_cast<uint8_t*>(report), sizeof report, nullptr, 0,
                      &got, nullptr);
    Pump(1500, true);
  }
  stop();
  const hkbtest_stats after = Stats(driver);
  ::FreeLibrary(lib);

  FILE* f = _wfopen(argv[3], L"w");
  if (!f) return 6;
  std::fprintf(f, "version=%lu.%lu.%lu\n", vi.dwMajorVersion, vi.dwMinorVersion, vi.dwBuildNumber & 0xFFFF);
  std::fprintf(f, "open=%d\nstart=%d\n", opened, started);
  std::fprintf(f, "worker_threads=%d\n", threads_after - threads_before);
  std::fprintf(f, "own_hidden_window=%d\n", hidden && hidden_pid == ::GetCurrentProcessId() ? 1 : 0);
  std::fprintf(f, "messages=%d\nprobe_messages=%d\n", g_messages, g_probe_messages);
  std::fprintf(f, "filter_opens=%u\nvxd_opens=%u\n", after.opens - before.opens,
               after.vxd_opens - before.vxd_opens);
  std::fprintf(f, "filter_reads=%u\nvxd_reads=%u\nvxd_code=0x%X\n", after.reads - before.reads,
               after.vxd_reads - before.vxd_reads, after.vxd_last_code);
  std::fclose(f);
  if (driver != INVALID_HANDLE_VALUE) ::CloseHandle(driver);
  ::DestroyWindow(host);
  return 0;
}
