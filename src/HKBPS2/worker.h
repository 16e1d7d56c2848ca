// The worker thread of the initialising process and its hidden window, which
// carries every timer of the library (the poll timer, the long-press timers)
// and receives the power and session notifications; the poll timer itself.
#pragma once

#include <windows.h>

#include <atomic>

namespace hkbps2 {

// At the first load: starts the worker thread, which makes the hidden window.
void StartWorker(HMODULE module);
// At unload: the worker's window goes and its message loop ends. True when
// the worker ended by itself within the bound; false when it had to be ended
// by force (stuck, for example in a device read that does not return).
bool EndWorker();

// Set once unloading has begun: drains stop early.
const std::atomic<bool>& UnloadStarted();

// The hidden window, or null (not made yet, could not be made, or no worker
// in this process).
HWND HiddenWindow();
// Waits (bounded) until the worker has made its window or given up; the window or null.
HWND WaitForHiddenWindow();

// Session notifications for the hidden window on releases that have them,
// unless registered already: `attempts` tries, a second apart after each
// failure.
void RegisterSessionNotifications(int attempts);

// HKBPS2_Start's last step: arms the poll timer on the hidden window; false
// when it cannot be set.
bool StartPolling(HWND hidden);
// HKBPS2_Stop: kills the poll timer.
void StopPolling();
// The unload's first step: no tick arms the timer again.
void StopPollingForUnload();

}  // namespace hkbps2
