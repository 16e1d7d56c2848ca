// Threads: the host calls the exports; the worker thread owns the hidden
// window and runs the window procedure, every timer procedure, the decoding,
// and the power and session handling. Only the poll lock's short sections
// are shared; a device read never runs under it.
#include "worker.h"

#include <imm.h>
#include <wtsapi32.h>

#include <atomic>
#include <cwchar>
#include <iterator>
#include <mutex>

#include "HKBPS2.h"
#include "hkb/sync.h"
#include "hkb/unique.h"
#include "poll_policy.h"
#include "ps2_device.h"
#include "report_decoder.h"
#include "shared_section.h"
#include "windows_type.h"

namespace hkbps2 {

namespace {

constexpr wchar_t kWindowClass[] = L"HKBPS2WNDCLASS";
constexpr wchar_t kWindowTitle[] = L"ZEV Kivo Button for PS/2";
constexpr wchar_t kHostClass[] = L"ZEVHKBCLASS";

constexpr UINT_PTR kPollTimerId = 20;
constexpr UINT kPollMilliseconds = 100;
constexpr UINT_PTR kTimer5Id = 5;
constexpr UINT kPrivateMessage = 0x0532;
constexpr int kHostWindowSearches = 4;
constexpr DWORD kHostWindowPauseMs = 100;
constexpr DWORD kRegistrationPauseMs = 1000;
// How long a caller waits for the worker's window, and how long unloading
// waits for the worker to end before it ends it by force.
constexpr DWORD kWindowReadyWaitMs = 5000;
constexpr DWORD kWorkerEndWaitMs = 5000;
constexpr DWORD kThreadGoneWaitMs = 5000;

HMODULE s_module = nullptr;
hkb::UniqueHandle s_worker;
hkb::Event s_windowReady;  // set once the worker has made its window or given up
hkb::Event s_workerDone;   // set by the worker as it parks (see ParkWorker)
hkb::Event s_workerPark;   // never set: the parked worker waits on it
std::atomic<DWORD> s_workerExitCode{0};
std::atomic<bool> s_stopRequested{false};  // unloading has begun
std::atomic<bool> s_workerEntered{false};  // the worker has reached this library's code
std::atomic<BOOL> s_sessionRegistered{FALSE};

// The poll timer is armed and killed from the host's thread (Start, Stop) and
// from the worker (ticks, session and power events). The lock keeps a tick
// that is reading while Stop runs from arming the timer again after it.
hkb::SrwLock s_pollLock;
PollState s_poll;           // under s_pollLock
UINT_PTR s_pollTimer = 0;   // under s_pollLock: SetTimer's result, 0 while not armed
bool s_pollWanted = false;  // under s_pollLock: armed by Start or a resume, not stopped since

void TryRegisterSessionNotification() {
  if (!UsesSessionNotifications(s_type) || s_sessionRegistered.load()) return;
  s_sessionRegistered = ::WTSRegisterSessionNotification(HiddenWindow(), NOTIFY_FOR_THIS_SESSION);
}

// ---------------------------------------------------------------------------
// The decoder's window side.

VOID CALLBACK LongPressTimerProc(HWND, UINT, UINT_PTR, DWORD);

class CWindowSink final : public IReportSink {
 public:
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    ::PostMessageW(s_device.host.load(), message, wParam, lParam);  // a vanished host is no error
  }
  uintptr_t SetLongPressTimer(uint32_t id, uint32_t milliseconds) override {
    return ::SetTimer(HiddenWindow(), id, milliseconds, &LongPressTimerProc);
  }
  void KillLongPressTimer(uint32_t id) override { ::KillTimer(HiddenWindow(), id); }
  void RetrySessionRegistration() override { TryRegisterSessionNotification(); }
};

CWindowSink s_sink;
CReportDecoder s_decoder(s_sink);

VOID CALLBACK LongPressTimerProc(HWND, UINT, UINT_PTR id, DWORD) { s_decoder.OnLongPressTimer(id); }

// ---------------------------------------------------------------------------
// The poll timer.

VOID CALLBACK PollTimerProc(HWND wnd, UINT, UINT_PTR id, DWORD);

// The caller holds s_pollLock.
UINT_PTR ArmLocked(HWND wnd) {
  s_pollWanted = true;
  s_pollTimer = ::SetTimer(wnd, kPollTimerId, kPollMilliseconds, &PollTimerProc);
  return s_pollTimer;
}

// The caller holds s_pollLock.
void KillLocked() {
  s_pollWanted = false;
  if (s_pollTimer) ::KillTimer(HiddenWindow(), s_pollTimer);
  s_pollTimer = 0;
}

// One-shot per tick: killed on entry and armed again after the read, so the
// period is 100 ms plus the time the read and the decoding take.
VOID CALLBACK PollTimerProc(HWND wnd, UINT, UINT_PTR id, DWORD) {
  {
    std::lock_guard lock(s_pollLock);
    if (s_pollTimer == 0 || id != s_pollTimer) return;  // a tick queued before the timer went
    ::KillTimer(wnd, id);
    s_pollTimer = 0;
    if (!MayPoll(s_poll, KbdblPresent())) return;  // a session notification arms polling again
  }
  ReadReport(&s_decoder);
  std::lock_guard lock(s_pollLock);
  if (s_pollWanted && s_pollTimer == 0) ArmLocked(wnd);
}

// A session resume: unless the timer is armed, drain and arm (device open only).
void ResumePolling() {
  {
    std::lock_guard lock(s_pollLock);
    if (s_pollTimer != 0) return;
  }
  if (!DeviceOpen()) return;
  DrainUnderMutex(s_stopRequested);
  std::lock_guard lock(s_pollLock);
  ArmLocked(HiddenWindow());
}

void Carry(PollAction action) {
  switch (action) {
    case PollAction::kResume: ResumePolling(); break;
    case PollAction::kPause: {
      std::lock_guard lock(s_pollLock);
      KillLocked();
      break;
    }
    case PollAction::kStop: HKBPS2_Stop(); break;
    case PollAction::kRestart: HKBPS2_Start(s_device.host.load(), s_device.value.load()); break;
    case PollAction::kNone: break;
  }
}

void OnSessionChange(WPARAM event) {
  PollAction action;
  {
    std::lock_guard lock(s_pollLock);
    action = hkbps2::OnSessionChange(s_poll, static_cast<uint32_t>(event), KbdblPresent());
  }
  Carry(action);
}

void OnPowerBroadcast(WPARAM event) {
  PollAction action;
  {
    std::lock_guard lock(s_pollLock);
    action = OnPowerChange(s_poll, static_cast<uint32_t>(event));
  }
  Carry(action);
}

// ---------------------------------------------------------------------------
// The hidden window and the worker thread.

LRESULT CALLBACK HiddenWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
    case WM_ENDSESSION:
    case WM_COMMAND:
    case kPrivateMessage: return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);  // ends the worker's message loop; the window goes after it
      return 0;
    case WM_CLOSE: CloseDevice(); return 0;  // the device is closed, the window stays
    case WM_TIMER:
      if (wParam == kTimer5Id) ::PostMessageW(s_device.host.load(), WM_HKBPS2_TIMER5, 1, 0);
      return 0;
    case WM_POWERBROADCAST: OnPowerBroadcast(wParam); return 0;
    case WM_WTSSESSION_CHANGE: OnSessionChange(wParam); return 0;
    default: return ::DefWindowProcW(wnd, msg, wParam, lParam);
  }
}

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
  const hkb::UniqueFind find(::FindFirstFileW(path, &found));
  if (!find) return;
  ::ImmDisableIME(0);
}

// The worker's last act. Its thread cannot simply return: unloading runs
// under the loader lock, which a returning thread needs, and after the
// unload the library's code is gone. So the worker signals that it is done
// and, in the same system call, starts waiting on an event that is never
// set; from then on it runs no code of this library. Unloading ends it.
[[noreturn]] void ParkWorker(DWORD code) {
  s_workerExitCode = code;
  s_windowReady.set();
  ::SignalObjectAndWait(s_workerDone.get(), s_workerPark.get(), INFINITE, FALSE);
  for (;;) ::Sleep(INFINITE);  // only if the wait itself failed
}

[[noreturn]] DWORD WINAPI WorkerThread(LPVOID) {
  s_workerEntered = true;

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

  if (DisablesIme(s_type)) DisableImeIfPresent();

  // Unloading has begun: no window, so nobody needs to end a message loop.
  if (s_stopRequested.load()) {
    ::UnregisterClassW(kWindowClass, s_module);
    ParkWorker(0);
  }

  const HWND hidden = ::CreateWindowExW(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW | WS_DISABLED, 0,
                                        0, 0, 0, owner, nullptr, s_module, nullptr);
  s_device.hidden = hidden;
  s_windowReady.set();
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
  // now, on its own thread, not later when the system cleans up after the
  // thread. Its session notifications end first, while it still exists.
  s_device.hidden = nullptr;
  if (s_sessionRegistered.exchange(FALSE)) ::WTSUnRegisterSessionNotification(hidden);
  ::DestroyWindow(hidden);
  ::UnregisterClassW(kWindowClass, s_module);
  ParkWorker(0);
}

}  // namespace

void StartWorker(HMODULE module) {
  s_module = module;
  s_windowReady = hkb::Event::create(true);
  s_workerDone = hkb::Event::create(true);
  s_workerPark = hkb::Event::create(true);
  if (s_windowReady && s_workerDone && s_workerPark) {
    s_worker.reset(::CreateThread(nullptr, 0, &WorkerThread, nullptr, 0, nullptr));
  }
}

// Ends the worker from inside the loader's unload notification, every wait
// bounded by one deadline: the device is closed and the message loop ended
// on the worker's own thread (WM_CLOSE, WM_DESTROY), the worker parks, and
// this thread ends it and waits for its handle. Ending a parked thread is
// safe: it holds no lock and is inside a system wait; and ending it needs no
// loader lock, unlike a thread that returns. A worker that does not park in
// time (a device read that hangs) is ended where it is; it may then hold the
// I/O lock, which is why the caller must not take that lock again.
bool EndWorker() {
  s_stopRequested = true;
  if (!s_worker) return true;
  const hkb::Deadline deadline(kWorkerEndWaitMs);
  bool ended = true;
  if (s_workerEntered.load()) {
    s_windowReady.wait(deadline.remaining());
    if (const HWND hidden = HiddenWindow()) {
      DWORD_PTR ignored = 0;
      for (const UINT message : {WM_CLOSE, WM_DESTROY}) {
        if (deadline.passed()) break;
        ::SendMessageTimeoutW(hidden, message, 0, 0, SMTO_NORMAL, deadline.remaining(), &ignored);
      }
    }
    ended = s_workerDone.wait(deadline.remaining()) == WAIT_OBJECT_0;
  }
  // Not entered: loaded and unloaded before the thread got going. It is still
  // waiting for the loader lock that this thread holds and would start
  // running in the unmapped library as soon as the lock is free.
  ::TerminateThread(s_worker.get(), ended ? s_workerExitCode.load() : 2);
  ::WaitForSingleObject(s_worker.get(), kThreadGoneWaitMs);
  s_worker.reset();
  if (!ended) {
    // Its window went with the thread; its class must go too, so that a
    // later load can register it again.
    s_device.hidden = nullptr;
    ::UnregisterClassW(kWindowClass, s_module);
  }
  return ended;
}

const std::atomic<bool>& UnloadStarted() { return s_stopRequested; }

HWND HiddenWindow() { return s_device.hidden.load(); }

HWND WaitForHiddenWindow() {
  if (s_worker) s_windowReady.wait(kWindowReadyWaitMs);
  return HiddenWindow();
}

void RegisterSessionNotifications(int attempts) {
  if (!UsesSessionNotifications(s_type) || s_sessionRegistered.load()) return;
  for (int i = 0; i < attempts; ++i) {
    s_sessionRegistered = ::WTSRegisterSessionNotification(HiddenWindow(), NOTIFY_FOR_THIS_SESSION);
    if (s_sessionRegistered.load()) break;
    ::Sleep(kRegistrationPauseMs);
  }
}

bool StartPolling(HWND hidden) {
  std::lock_guard lock(s_pollLock);
  if (ArmLocked(hidden) == 0) return false;  // started stays as it was
  s_poll.started = true;
  return true;
}

void StopPolling() {
  std::lock_guard lock(s_pollLock);
  KillLocked();
  s_poll.started = false;
}

void StopPollingForUnload() {
  std::lock_guard lock(s_pollLock);
  KillLocked();
}

}  // namespace hkbps2
