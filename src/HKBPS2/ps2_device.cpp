#include "ps2_device.h"

#include <winioctl.h>

#include <cstring>
#include <mutex>

#include "hkb/sync.h"
#include "windows_type.h"

namespace hkbps2 {

Ps2Device s_device;
int s_type = 0;

namespace {

constexpr wchar_t kFilterDevice[] = L"\\\\.\\HKBLEDFILTR";
constexpr wchar_t kVirtualDevice[] = L"\\\\.\\VHKBBTN.VXD";
constexpr wchar_t kMutexName[] = L"HKBB_PS2_Mutex";

constexpr DWORD kFilterReadCode = 0x9C40E040;  // type 0x9C40, function 0x810, buffered, read+write
static_assert(kFilterReadCode == static_cast<DWORD>(CTL_CODE(0x9C40, 0x810, METHOD_BUFFERED,
                                                             FILE_READ_ACCESS | FILE_WRITE_ACCESS)));

constexpr int kDrainReads = 32;
constexpr DWORD kDrainPauseMs = 50;
constexpr DWORD kMutexWaitMs = 3000;

hkb::SrwLock s_ioLock;
std::atomic<bool> s_deviceOpen{false};
// Made by the first HKBPS2_Start, closed at unload; read by drains on both
// threads, so kept without a lock (owned through hkb::UniqueHandle whenever
// it changes hands).
std::atomic<HANDLE> s_drainMutex{nullptr};

// CreateFileW's answer as an owned handle (empty on failure).
hkb::UniqueHandle OpenDeviceOfType(int type) {
  const HANDLE h =
      UsesFilterDriver(type)
          ? ::CreateFileW(kFilterDevice, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
          : ::CreateFileW(kVirtualDevice, 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  return hkb::UniqueHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// The caller holds the I/O lock. The byte count; 0 when no report is pending
// or the read failed.
DWORD ReadLocked() {
  if (!HasDevice(s_type) || !s_device.handle) return 0;
  const DWORD code = UsesFilterDriver(s_type) ? kFilterReadCode : s_device.value.load();
  DWORD got = 0;
  const BOOL ok = ::DeviceIoControl(s_device.handle.get(), code, nullptr, 0, s_device.report,
                                    static_cast<DWORD>(kReportSize), &got, nullptr);
  ::GetLastError();  // fetched, of no further use
  return ok ? got : 0;
}

}  // namespace

int OpenDevice() {
  std::lock_guard lock(s_ioLock);
  std::memset(s_device.report, 0, sizeof s_device.report);
  if (!HasDevice(s_type)) {
    // Nothing to open on an unclassified release; reads then fail without
    // reaching any device.
    s_deviceOpen = true;
    return 1;
  }
  s_device.handle = OpenDeviceOfType(s_type);  // the previous handle, if any, is closed
  s_deviceOpen = static_cast<bool>(s_device.handle);
  return s_deviceOpen ? 1 : 0;
}

bool DeviceOpen() { return s_deviceOpen.load(); }

void CloseDevice() {
  std::lock_guard lock(s_ioLock);
  if (!s_deviceOpen.load()) return;
  s_device.handle.reset();
  s_deviceOpen = false;
}

bool ReadReport(CReportDecoder* decoder) {
  std::lock_guard lock(s_ioLock);
  if (ReadLocked() == 0) return false;
  if (decoder) decoder->Decode(s_device.report);
  return true;
}

void EnsureDrainMutex() {
  if (s_drainMutex.load()) return;
  hkb::UniqueHandle made(::CreateMutexW(nullptr, FALSE, kMutexName));
  HANDLE none = nullptr;
  if (made && s_drainMutex.compare_exchange_strong(none, made.get())) made.release();
}

void DrainUnderMutex(const std::atomic<bool>& stop) {
  hkb::MutexOwner owner(s_drainMutex.load(), kMutexWaitMs);  // the drain runs also without it
  for (int i = 0; i < kDrainReads && !stop.load(); ++i) {
    if (!ReadReport(nullptr)) break;
    ::Sleep(kDrainPauseMs);
  }
}

void ReleaseDeviceAtUnload(bool workerEnded) {
  if (workerEnded) {
    CloseDevice();  // normally done already by WM_CLOSE on the worker
  } else {
    s_device.handle.reset();
    s_deviceOpen = false;
  }
  // Closed only now: a drain of the worker may have been waiting for it or
  // holding it until the worker ended.
  hkb::UniqueHandle(s_drainMutex.exchange(nullptr)).reset();
}

}  // namespace hkbps2
