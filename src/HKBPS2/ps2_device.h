// The button device of this process: its state, opening the device of this
// Windows release, reading one report, draining stale reports under the
// machine-wide mutex, closing it.
//
// Reads come from the worker (poll ticks, session resumes) and from the host
// (the drain of HKBPS2_Start); closes from HKBPS2_OpenDevice and from
// WM_CLOSE. One I/O lock, held across each read, keeps a read from meeting
// a close or a second read of the shared report buffer. A worker ended by
// force at unload may still hold it, so the unload never takes it then.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "hkb/unique.h"
#include "report_decoder.h"

namespace hkbps2 {

// The device and the windows of this process; empty at load.
struct Ps2Device {
  hkb::UniqueHandle handle;           // the opened device (under the I/O lock)
  std::atomic<HWND> hidden{nullptr};  // the worker's window, once it exists
  std::atomic<HWND> host{nullptr};    // the window given to HKBPS2_Start: every event goes there
  std::atomic<DWORD> value{0};        // the value given to HKBPS2_Start: the older device's control code
  uint8_t report[kReportSize] = {};   // filled by every read (under the I/O lock)
};

extern Ps2Device s_device;
// Windows type of this process (0 to 9): 0 unless this process initialised.
extern int s_type;

// HKBPS2_OpenDevice: a zeroed report buffer and the device of this release
// (any earlier handle closed). 1 on success; 1 without opening anything for
// type 0; 0 when the device cannot be opened.
int OpenDevice();
bool DeviceOpen();
// WM_CLOSE: closes the device; reads find none until it is opened again.
void CloseDevice();

// One report into the report buffer, handed to `decoder` (when given) while
// the buffer is still guarded. False when no report came (none pending, the
// read failed, or there is no device).
bool ReadReport(CReportDecoder* decoder);

// HKBPS2_Start's named mutex, created (or opened) once per process.
void EnsureDrainMutex();
// Throws away up to 32 pending reports, 50 ms apart, holding the named mutex
// (waited for at most 3 s; the drain runs also when the wait fails). Stops
// early once `stop` is set: the library is being unloaded.
void DrainUnderMutex(const std::atomic<bool>& stop);

// The unload's part, once the worker is gone: the device is closed and the
// mutex with it. `workerEnded`: the worker ended by itself; otherwise it was
// ended by force and may have died holding the I/O lock, which is then left
// alone.
void ReleaseDeviceAtUnload(bool workerEnded);

}  // namespace hkbps2
