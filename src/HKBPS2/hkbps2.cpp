// PS/2 button library: opens the keyboard button device, polls it every
// 100 ms on a private worker thread and hands each report to the decoder,
// which posts the button events to the window given to HKBPS2_Start.
//
// Only the first process that maps the library (counted in the shared
// ".PROCESS" section) runs a worker thread and reads the device. This file
// holds the exports and the library's load and unload; the parts are:
//   shared_section  the data shared between processes, the election
//   ps2_device      the device: open, read, drain, close
//   worker          the worker thread, its hidden window, the poll timer
//   poll_policy     when polling runs (sessions, power events), plain logic
//   report_decoder  reports to event messages, plain logic
//   windows_type    the Windows classification, plain logic
#include <windows.h>

#include "HKBPS2.h"
#include "hkb/guard.h"
#include "hkb/unique.h"
#include "ps2_device.h"
#include "shared_section.h"
#include "windows_type.h"
#include "worker.h"

namespace {

constexpr wchar_t kKbdblKey[] = L"Software\\ZEV\\KBDBL";
constexpr int kRegistrationAttempts = 3;
constexpr DWORD kUnloadPauseMs = 1000;

int ClassifyThisWindows() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  static_assert(sizeof(OSVERSIONINFOW) == 276);
  if (!::GetVersionExW(&info)) return 0;
  return hkbps2::ClassifyWindows(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber & 0xFFFFu);
}

bool KbdblKeyExists() {
  hkb::UniqueKey key;
  return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKbdblKey, 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS;
}

// Only the process that finds no other holder initialises; any other is
// inert (type 0, no worker, no window).
void ProcessAttach(HMODULE module) {
  if (!hkbps2::JoinHolders()) return;
  hkbps2::s_type = ClassifyThisWindows();
  hkbps2::SetKbdblPresent(KbdblKeyExists());  // before the worker, which reads it
  hkbps2::StartWorker(module);
}

// The timer first, then the worker (its window closes the device and goes),
// then the device and the mutex that a drain of the worker may have used.
void ProcessDetach(bool processEnding) {
  // At process exit the other threads are already gone and the system closes
  // every handle; only the shared count needs the update.
  if (!processEnding) {
    const bool wasOpen = hkbps2::DeviceOpen();
    hkbps2::StopPollingForUnload();
    const bool workerEnded = hkbps2::EndWorker();
    hkbps2::ReleaseDeviceAtUnload(workerEnded);
    if (wasOpen) ::Sleep(kUnloadPauseMs);
  }
  hkbps2::LeaveHolders();
}

}  // namespace

// ---------------------------------------------------------------------------
// Exports.

extern "C" int HKBPS2_OpenDevice(void) {
  return hkb::Guarded(0, [] { return hkbps2::OpenDevice(); });
}

extern "C" int HKBPS2_Start(HWND host, DWORD value) {
  return hkb::Guarded(0, [&] {
    hkbps2::s_device.host = host;  // stored also when the call then fails
    hkbps2::s_device.value = value;
    hkbps2::EnsureDrainMutex();
    const HWND hidden = hkbps2::WaitForHiddenWindow();
    if (hidden) hkbps2::RegisterSessionNotifications(kRegistrationAttempts);
    if (!hkbps2::DeviceOpen()) return 0;
    // Without the hidden window (none in this process, or it could not be
    // made) there is nothing to carry the poll timer and the long-press
    // timers: polling cannot be armed.
    if (!hidden) return 0;
    hkbps2::DrainUnderMutex(hkbps2::UnloadStarted());
    return hkbps2::StartPolling(hidden) ? 1 : 0;
  });
}

extern "C" void HKBPS2_Stop(void) {
  hkb::Guarded([] {
    if (hkbps2::DeviceOpen()) hkbps2::StopPolling();
  });
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH: ProcessAttach(instance); break;
    case DLL_PROCESS_DETACH: ProcessDetach(reserved != nullptr); break;
    default: break;
  }
  return TRUE;
}
