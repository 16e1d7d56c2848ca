// The server module: lock count, shutdown monitor and the type description
// that the dispatch half of the interface answers from.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>

#include "hkb/com.h"
#include "hkb/unique.h"

class CKeyDbWrapperModule {
 public:
  // Idle time after the last release before the server ends, and the pause
  // between revoking the class object and leaving.
  static constexpr DWORD kIdleTimeoutMs = 5000;
  static constexpr DWORD kGraceMs = 1000;

  // One count per live object and per server lock. When the count falls to
  // 0, the monitor learns of it.
  LONG Lock() noexcept;
  LONG Unlock() noexcept;

  // Creates the event (automatic reset, not signalled) and the monitor
  // thread, which posts WM_QUIT to `main_thread` once the server has been
  // idle for kIdleTimeoutMs.
  bool StartMonitor(DWORD main_thread) noexcept;
  // After the message loop: ends and waits for the monitor thread, then
  // closes its thread and event handles and releases the type descriptions.
  void Term() noexcept;

  // IkeyDbObj's description as the type library gives it for its GUID (the
  // dispatch view of the dual interface), and the interface view that
  // calls go through; loaded once from this program's type library.
  HRESULT GetTypeInfo(ITypeInfo** out) noexcept;
  HRESULT GetInvokeInfo(ITypeInfo** out) noexcept;

 private:
  static DWORD WINAPI MonitorProc(void* self) noexcept;
  void MonitorShutdown() noexcept;
  HRESULT LoadTypeInfo() noexcept;

  std::atomic<LONG> m_nLockCnt{0};
  // Set by the release of the last lock, cleared by the monitor.
  std::atomic<bool> m_bActivity{false};
  std::atomic<bool> m_bStopping{false};
  hkb::UniqueHandle m_hEventShutdown;
  hkb::UniqueHandle m_hMonitor;
  DWORD m_dwMainThreadID = 0;
  hkb::ComPtr<ITypeInfo> m_pTypeInfo;
  hkb::ComPtr<ITypeInfo> m_pInvokeInfo;
};

extern CKeyDbWrapperModule s_Module;
