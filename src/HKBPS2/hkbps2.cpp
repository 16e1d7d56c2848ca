// PS/2 button library: opens the keyboard button device, polls it every
// 100 ms on a private worker thread and hands each report to the decoder,
// which posts the button events to the window given to HKBPS2_Start.
//
// Threads: the host calls the exports; the worker thread owns the hidden
// window, every timer procedure, the decoding, and the power and session
// handling. Only the first process that maps the library (counted in the
// shared ".PROCESS" section) runs a worker thread and reads the device.
#include <windows.h>
#include <winioctl.h>
#include <imm.h>
#include <wtsapi32.h>

#include <atomic>
#include <cstdint>
#include <cwchar>
#include <iterator>

#include "HKBPS2.h"
#include "report_decoder.h"
#include "windows_type.h"

namespace {

// ---------------------------------------------------------------------------
// Data shared by every process that maps the library.

struct SharedSection {
  LONG kbdbl;      // 1 when HKLM\Software\ZEV\KBDBL existed at the first load
  LONG loadCount;  // process attaches minus process detaches, system-wide
};
static_assert(sizeof(SharedSection) == 8);

__attribute__((section(".PROCESS"), shared)) volatile SharedSection s_shared = {0, 0};

// ---------------------------------------------------------------------------
// Per-process state.

constexpr wchar_t kWindowClass[] = L"HKBPS2WNDCLASS";
constexpr wchar_t kWindowTitle[] = L"ZEV Kivo Button for PS/2";
constexpr wchar_t kHostClass[] = L"ZEVHKBCLASS";
constexpr wchar_t kMutexName[] = L"HKBB_PS2_Mutex";
constexpr wchar_t kKbdblKey[] = L"Software\\ZEV\\KBDBL";
constexpr wchar_t kFilterDevice[] = L"\\\\.\\HKBLEDFILTR";
constexpr wchar_t kVirtualDevice[] = L"\\\\.\\VHKBBTN.VXD";

constexpr DWORD kFilterReadCode = 0x9C40E040;  // type 0x9C40, function 0x810, buffered, read+write
static_assert(kFilterReadCode == static_cast<DWORD>(CTL_CODE(0x9C40, 0x810, METHOD_BUFFERED,
                                                             FILE_READ_ACCESS | FILE_WRITE_ACCESS)));

constexpr UINT_PTR kPollTimerId = 20;
constexpr UINT kPollMilliseconds = 100;
constexpr UINT_PTR kTimer5Id = 5;
constexpr UINT kPrivateMessage = 0x0532;
constexpr int kDrainReads = 32;
constexpr DWORD kDrainPauseMs = 50;
constexpr DWORD kMutexWaitMs = 3000;
constexpr int kHostWindowSearches = 4;
constexpr DWORD kHostWindowPauseMs = 100;
constexpr int kRegistrationAttempts = 3;
constexpr DWORD kRegistrationPauseMs = 1000;
constexpr DWORD kUnloadPauseMs = 1000;
// How long a caller waits for the worker's hidden window, and how long
// unloading waits for the worker thread to finish.
constexpr DWORD kWindowReadyWaitMs = 2000;
constexpr DWORD kWorkerEndWaitMs = 5000;
constexpr UINT kTeardownSendTimeoutMs = 5000;

struct Ps2Device {
  HANDLE device;             // none until HKBPS2_OpenDevice
  std::atomic<HWND> hidden;  // set by the worker once its window exists
  std::atomic<HWND> host;    // written by Start on either thread, read by the worker
  std::atomic<DWORD> value;
  uint8_t* report;  // hkbps2::kReportSize bytes, one buffer per HKBPS2_OpenDevice
};

Ps2Device s_device{nullptr, nullptr, nullptr, 0, nullptr};
int s_type = 0;
std::atomic<LONG> s_deviceOpen{0};
std::atomic<LONG> s_started{0};
std::atomic<LONG> s_resumePending{0};
std::atomic<UINT_PTR> s_pollTimer{0};
std::atomic<BOOL> s_sessionRegistered{FALSE};
HANDLE s_mutex = nullptr;
std::atomic<LONG> s_sessionUnlocked{1};
std::atomic<LONG> s_consoleConnected{1};
HMODULE s_module = nullptr;

// Worker thread bookkeeping.
HANDLE s_worker = nullptr;
HANDLE s_windowReady = nullptr;  // set once the worker has created its window (or given up)
HANDLE s_workerDone = nullptr;   // set by the worker as it parks (see ParkWorker)
HANDLE s_workerPark = nullptr;   // never set: the parked worker waits on it
std::atomic<DWORD> s_workerExitCode{0};
std::atomic<bool> s_stopRequested{false};
std::atomic<bool> s_workerEntered{false};  // the worker has reached this library's code

// Serialises the device handle and report buffer between OpenDevice, the
// reads and WM_CLOSE, which run on different threads.
SRWLOCK s_deviceLock = SRWLOCK_INIT;

class SrwExclusive {
 public:
  explicit SrwExclusive(SRWLOCK& lock) : m_lock(lock) { ::AcquireSRWLockExclusive(&m_lock); }
  ~SrwExclusive() { ::ReleaseSRWLockExclusive(&m_lock); }
  SrwExclusive(const SrwExclusive&) = delete;
  SrwExclusive& operator=(const SrwExclusive&) = delete;

 private:
  SRWLOCK& m_lock;
};

bool IsHandle(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

HWND HiddenWindow() { return s_device.hidden.load(); }

// ---------------------------------------------------------------------------
// Session registration.

void TryRegisterSessionNotification() {
  if (!hkbps2::UsesSessionNotifications(s_type) || s_sessionRegistered.load()) return;
  s_sessionRegistered = ::WTSRegisterSessionNotification(HiddenWindow(), NOTIFY_FOR_THIS_SESSION);
}

// ---------------------------------------------------------------------------
// The decoder's window side.

VOID CALLBACK LongPressTimerProc(HWND, UINT, UINT_PTR, DWORD);

class CWindowSink final : public hkbps2::ReportSink {
 public:
  void Post(uint32_t message, uintptr_t wparam, intptr_t lparam) override {
    ::PostMessageW(s_device.host.load(), message, wparam, lparam);  // a vanished host is no error
  }
  uintptr_t SetLongPressTimer(uint32_t id, uint32_t milliseconds) override {
    return ::SetTimer(HiddenWindow(), id, milliseconds, &LongPressTimerProc);
  }
  void KillLongPressTimer(uint32_t id) override { ::KillTimer(HiddenWindow(), id); }
  void RetrySessionRegistration() override { TryRegisterSessionNotification(); }
};

CWindowSink s_sink;
hkbps2::CReportDecoder s_decoder(s_sink);

VOID CALLBACK LongPressTimerProc(HWND, UINT, UINT_PTR id, DWORD) { s_decoder.OnLongPressTimer(id); }

// ---------------------------------------------------------------------------
// Device access.

HANDLE OpenDeviceForType(int type) {
  if (hkbps2::UsesFilterDriver(type)) {
    return ::CreateFileW(kFilterDevice, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  return ::CreateFileW(kVirtualDevice, 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

// One report into the report buffer; the caller holds s_deviceLock. Returns
// the byte count, 0 when no report is pending or the read failed.
DWORD ReadReportLocked() {
  if (!hkbps2::HasDevice(s_type) || !s_device.report) return 0;
  const DWORD code = hkbps2::UsesFilterDriver(s_type) ? kFilterReadCode : s_device.value.load();
  DWORD got = 0;
  const BOOL ok = ::DeviceIoControl(s_device.device, code, nullptr, 0, s_device.report,
                                    static_cast<DWORD>(hkbps2::kReportSize), &got, nullptr);
  ::GetLastError();  // fetched, of no further use
  return ok ? got : 0;
}

// Throws away up to 32 pending reports so that stale presses do not arrive late.
void Drain() {
  for (int i = 0; i < kDrainReads; ++i) {
    DWORD got;
    {
      SrwExclusive lock(s_deviceLock);
      got = ReadReportLocked();
    }
    if (got == 0) break;
    ::Sleep(kDrainPauseMs);
  }
}

void DrainUnderMutex() {
  const HANDLE mutex = s_mutex;
  if (mutex) ::WaitForSingleObject(mutex, kMutexWaitMs);
  Drain();  // also when the wait failed or timed out
  if (mutex) ::ReleaseMutex(mutex);
}

VOID CALLBACK PollTimerProc(HWND wnd, UINT, UINT_PTR id, DWORD);

// The poll timer is armed and killed from the host's thread (Start, Stop)
// and from the worker (each tick, session and power events). The lock keeps
// a tick that is reading while Stop runs from arming the timer again after it.
SRWLOCK s_timerLock = SRWLOCK_INIT;
bool s_pollWanted = false;  // under s_timerLock: armed by Start or a resume, not since stopped

UINT_PTR ArmPollTimer(HWND wnd) {
  SrwExclusive lock(s_timerLock);
  s_pollWanted = true;
  const UINT_PTR timer = ::SetTimer(wnd, kPollTimerId, kPollMilliseconds, &PollTimerProc);
  s_pollTimer = timer;
  return timer;
}

void KillPollTimer() {
  SrwExclusive lock(s_timerLock);
  s_pollWanted = false;
  const UINT_PTR timer = s_pollTimer.exchange(0);
  if (timer) ::KillTimer(HiddenWindow(), timer);
}

bool PollingAllowed() { return s_consoleConnected.load() && (s_shared.kbdbl || s_sessionUnlocked.load()); }

// One-shot per tick: killed on entry and armed again after the read, so the
// period is 100 ms plus the time the read and the decoding take.
VOID CALLBACK PollTimerProc(HWND wnd, UINT, UINT_PTR id, DWORD) {
  {
    SrwExclusive lock(s_timerLock);
    if (id != s_pollTimer.load()) return;  // a tick that was already queued when the timer went
    ::KillTimer(wnd, id);
    s_pollTimer = 0;
  }
  if (!PollingAllowed()) return;  // a session notification arms polling again
  {
    SrwExclusive lock(s_deviceLock);
    if (ReadReportLocked() != 0) s_decoder.Decode(s_device.report);
  }
  SrwExclusive lock(s_timerLock);
  if (s_pollWanted && s_pollTimer.load() == 0) {
    s_pollTimer = ::SetTimer(wnd, kPollTimerId, kPollMilliseconds, &PollTimerProc);
  }
}

// ---------------------------------------------------------------------------
// Power and session handling.

void OnPowerBroadcast(WPARAM event) {
  if (event == PBT_APMSUSPEND) {
    if (s_started.load()) {
      s_resumePending = 1;
      HKBPS2_Stop();
    }
  } else if (event == PBT_APMRESUMESUSPEND) {
    if (s_resumePending.load()) {
      HKBPS2_Start(s_device.host.load(), s_device.value.load());
      s_resumePending = 0;
    }
  }
}

void ResumePolling() {
  if (s_pollTimer.load() != 0) return;
  if (!s_deviceOpen.load()) return;
  DrainUnderMutex();
  ArmPollTimer(HiddenWindow());
}

void PauseCheck() {
  if (s_shared.kbdbl && s_consoleConnected.load()) return;  // polling goes on while locked
  KillPollTimer();
}

void Evaluate() {
  if (s_sessionUnlocked.load() && s_consoleConnected.load()) {
    ResumePolling();
  } else {
    PauseCheck();
  }
}

void OnSessionChange(WPARAM event) {
  switch (event) {
    case WTS_CONSOLE_CONNECT:
      s_consoleConnected = 1;
      Evaluate();
      break;
    case WTS_CONSOLE_DISCONNECT:
      s_consoleConnected = 0;
      Evaluate();
      break;
    case WTS_SESSION_LOCK:
      s_sessionUnlocked = 0;
      PauseCheck();
      break;
    case WTS_SESSION_UNLOCK:
      s_sessionUnlocked = 1;
      Evaluate();
      break;
    default: Evaluate(); break;
  }
}

// WM_CLOSE: the device is closed, the window stays.
void CloseDevice() {
  SrwExclusive lock(s_deviceLock);
  if (!s_deviceOpen.load()) return;
  if (IsHandle(s_device.device)) ::CloseHandle(s_device.device);
  s_device.device = nullptr;
  s_deviceOpen = 0;
}

LRESULT CALLBACK HiddenWindowProc(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_CREATE:
    case WM_ENDSESSION:
    case WM_COMMAND:
    case kPrivateMessage: return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);  // ends the worker's message loop
      return 0;
    case WM_CLOSE: CloseDevice(); return 0;
    case WM_TIMER:
      if (wparam == kTimer5Id) ::PostMessageW(s_device.host.load(), hkbps2::WM_HKBPS2_TIMER5, 1, 0);
      return 0;
    case WM_POWERBROADCAST: OnPowerBroadcast(wparam); return 0;
    case WM_WTSSESSION_CHANGE: OnSessionChange(wparam); return 0;
    default: return ::DefWindowProcW(wnd, msg, wparam, lparam);
  }
}

// ---------------------------------------------------------------------------
// Worker thread.

void DisableImeIfPresent() {
  wchar_t dir[MAX_PATH] = {};
  const UINT n = ::GetSystemDirectoryW(dir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  constexpr wchar_t kFile[] = L"IMM32.DLL";
  wchar_t path[MAX_PATH] = {};
  if (n + 1 + std::size(kFile) > std::size(path)) return;  // "<dir>\IMM32.DLL" must fit
  std::wmemcpy(path, dir, n);
  path[n] = L'\\';
  std::wmemcpy(path + n + 1, kFile, std::size(kFile));
  WIN32_FIND_DATAW found;
  const HANDLE find = ::FindFirstFileW(path, &found);
  if (find == INVALID_HANDLE_VALUE) return;
  ::ImmDisableIME(0);
  ::FindClose(find);
}

// The worker's last act. Its thread cannot simply return: unloading runs
// under the loader lock, which a returning thread needs, and after the
// unload the library's code is gone. So the worker signals that it is done
// and, in the same system call, starts waiting on an event that is never
// set; from then on it runs no code of this library. Unloading ends it.
[[noreturn]] void ParkWorker(DWORD code) {
  s_workerExitCode = code;
  ::SetEvent(s_windowReady);
  ::SignalObjectAndWait(s_workerDone, s_workerPark, INFINITE, FALSE);
  for (;;) ::Sleep(INFINITE);  // only if the wait itself failed
}

[[noreturn]] DWORD WINAPI WorkerThread(LPVOID param) {
  s_workerEntered = true;
  Ps2Device* device = static_cast<Ps2Device*>(param);

  WNDCLASSW wc = {};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = &HiddenWindowProc;
  wc.hInstance = s_module;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNSHADOW + 1));
  wc.lpszClassName = kWindowClass;
  if (!::RegisterClassW(&wc)) ParkWorker(0);

  HWND owner = nullptr;
  for (int i = 0; i < kHostWindowSearches && !s_stopRequested.load(); ++i) {
    if (i > 0) ::Sleep(kHostWindowPauseMs);
    owner = ::FindWindowW(kHostClass, nullptr);
    if (owner) break;
  }

  if (hkbps2::DisablesIme(s_type)) DisableImeIfPresent();

  // Unloading has begun: no window, so nobody needs to end a message loop.
  if (s_stopRequested.load()) {
    ::UnregisterClassW(kWindowClass, s_module);
    ParkWorker(0);
  }

  const HWND hidden = ::CreateWindowExW(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW | WS_DISABLED, 0,
                                        0, 0, 0, owner, nullptr, s_module, nullptr);
  device->hidden = hidden;
  ::SetEvent(s_windowReady);
  if (!hidden) {
    ::UnregisterClassW(kWindowClass, s_module);
    ParkWorker(1);
  }

  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }

  // The window procedure and the timer procedures live in this library, which
  // is about to be unmapped: the window (and with it every timer on it) goes
  // now, on its own thread, not later when the system cleans up after the thread.
  device->hidden = nullptr;
  ::DestroyWindow(hidden);
  ::UnregisterClassW(kWindowClass, s_module);
  ParkWorker(0);
}

void WaitForHiddenWindow() {
  if (s_worker && s_windowReady) ::WaitForSingleObject(s_windowReady, kWindowReadyWaitMs);
}

// ---------------------------------------------------------------------------
// Load and unload.

int ClassifyThisWindows() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  static_assert(sizeof(OSVERSIONINFOW) == 276);
  if (!::GetVersionExW(&info)) return 0;
  return hkbps2::ClassifyWindows(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber & 0xFFFFu);
}

void ProcessAttach(HMODULE module) {
  s_module = module;
  if (s_shared.loadCount == 0) {
    s_type = ClassifyThisWindows();
    s_windowReady = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s_workerDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s_workerPark = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (s_windowReady && s_workerDone && s_workerPark) {
      s_worker = ::CreateThread(nullptr, 0, &WorkerThread, &s_device, 0, nullptr);
    }
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKbdblKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
      ::RegCloseKey(key);
      s_shared.kbdbl = 1;
    } else {
      s_shared.kbdbl = 0;
    }
  }
  ::InterlockedIncrement(const_cast<LONG*>(&s_shared.loadCount));
}

// Ends the worker thread from inside the loader's unload notification: the
// window goes, the message loop ends, the worker parks itself, and this
// thread ends it and waits for its handle. Ending a parked thread is safe: it
// holds no lock and is inside a system wait; and ending it needs no loader
// lock, unlike a thread that returns.
void EndWorker() {
  s_stopRequested = true;
  if (s_workerEntered.load()) {
    ::WaitForSingleObject(s_windowReady, kWindowReadyWaitMs);
    const HWND hidden = HiddenWindow();
    if (hidden) {
      DWORD_PTR ignored = 0;
      ::SendMessageTimeoutW(hidden, WM_CLOSE, 0, 0, SMTO_NORMAL, kTeardownSendTimeoutMs, &ignored);
      ::SendMessageTimeoutW(hidden, WM_DESTROY, 0, 0, SMTO_NORMAL, kTeardownSendTimeoutMs, &ignored);
      if (s_sessionRegistered.exchange(FALSE)) ::WTSUnRegisterSessionNotification(hidden);
    }
    if (::WaitForSingleObject(s_workerDone, kWorkerEndWaitMs) != WAIT_OBJECT_0) {
      s_workerExitCode = 2;  // stuck; it must not run on in the unmapped library either
    }
  }
  // Not entered: loaded and unloaded before the thread got going. It is still
  // waiting for the loader lock that this thread holds and would start
  // running in the unmapped library as soon as the lock is free.
  ::TerminateThread(s_worker, s_workerExitCode.load());
  ::WaitForSingleObject(s_worker, kWorkerEndWaitMs);
  ::CloseHandle(s_worker);
  s_worker = nullptr;
}

void ProcessDetach(bool processEnding) {
  if (s_mutex) {
    ::CloseHandle(s_mutex);
    s_mutex = nullptr;
  }
  // At process exit the other threads are already gone and the system closes
  // every handle; only the shared count needs the update.
  if (!processEnding) {
    const bool wasOpen = s_deviceOpen.load() != 0;
    KillPollTimer();
    if (s_worker) {
      EndWorker();
    }
    CloseDevice();  // normally already done by WM_CLOSE on the worker
    if (wasOpen) ::Sleep(kUnloadPauseMs);
    {
      SrwExclusive lock(s_deviceLock);
      if (s_device.report) ::HeapFree(::GetProcessHeap(), 0, s_device.report);
      s_device.report = nullptr;
    }
    for (HANDLE* event : {&s_windowReady, &s_workerDone, &s_workerPark}) {
      if (*event) ::CloseHandle(*event);
      *event = nullptr;
    }
  }
  ::InterlockedDecrement(const_cast<LONG*>(&s_shared.loadCount));
  s_module = nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Exports.

extern "C" int HKBPS2_OpenDevice(void) {
  auto* buffer =
      static_cast<uint8_t*>(::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, hkbps2::kReportSize));
  if (!buffer) return 0;
  SrwExclusive lock(s_deviceLock);
  // A new buffer and a new handle each time; the previous ones are released.
  if (s_device.report) ::HeapFree(::GetProcessHeap(), 0, s_device.report);
  s_device.report = buffer;
  if (hkbps2::HasDevice(s_type)) {
    if (IsHandle(s_device.device)) ::CloseHandle(s_device.device);
    s_device.device = OpenDeviceForType(s_type);
  }
  if (s_device.device == INVALID_HANDLE_VALUE) {
    s_deviceOpen = 0;  // the previous handle, if any, is closed
    return 0;
  }
  s_deviceOpen = 1;
  return 1;
}

extern "C" int HKBPS2_Start(HWND host, DWORD value) {
  s_device.host = host;
  s_device.value = value;
  if (!s_mutex) s_mutex = ::CreateMutexW(nullptr, FALSE, kMutexName);
  WaitForHiddenWindow();
  if (hkbps2::UsesSessionNotifications(s_type) && !s_sessionRegistered.load()) {
    for (int i = 0; i < kRegistrationAttempts; ++i) {
      s_sessionRegistered = ::WTSRegisterSessionNotification(HiddenWindow(), NOTIFY_FOR_THIS_SESSION);
      if (s_sessionRegistered.load()) break;
      ::Sleep(kRegistrationPauseMs);
    }
  }
  if (!s_deviceOpen.load()) return 0;
  DrainUnderMutex();
  if (ArmPollTimer(HiddenWindow()) == 0) return 0;
  s_started = 1;
  return 1;
}

extern "C" void HKBPS2_Stop(void) {
  if (!s_deviceOpen.load()) return;
  KillPollTimer();
  s_started = 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH: ProcessAttach(instance); break;
    case DLL_PROCESS_DETACH: ProcessDetach(reserved != nullptr); break;
    default: break;
  }
  return TRUE;
}
