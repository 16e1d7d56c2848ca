// The server module: the lock count that keeps the server alive, the monitor
// that ends it once idle, and the type description of the interface.
#include "server_module.h"

#include "KeyDbWrapper_h.h"  // the interface and its identifier, from the IDL
#include "hkb/module.h"

CKeyDbWrapperModule s_Module;

LONG CKeyDbWrapperModule::Lock() noexcept { return ++m_nLockCnt; }

LONG CKeyDbWrapperModule::Unlock() noexcept {
  const LONG left = --m_nLockCnt;
  if (left == 0) {
    m_bActivity = true;
    ::SetEvent(m_hEventShutdown.get());
  }
  return left;
}

bool CKeyDbWrapperModule::StartMonitor(DWORD main_thread) noexcept {
  m_dwMainThreadID = main_thread;
  m_hEventShutdown.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!m_hEventShutdown) return false;
  m_hMonitor.reset(::CreateThread(nullptr, 0, &CKeyDbWrapperModule::MonitorProc, this, 0, nullptr));
  return static_cast<bool>(m_hMonitor);
}

DWORD WINAPI CKeyDbWrapperModule::MonitorProc(void* self) noexcept {
  static_cast<CKeyDbWrapperModule*>(self)->MonitorShutdown();
  return 0;
}

// Waits for the first time the lock count reaches 0; then keeps waiting for
// kIdleTimeoutMs while the event keeps coming. A quiet period with no new
// activity and no locks ends the server; otherwise it waits again.
void CKeyDbWrapperModule::MonitorShutdown() noexcept {
  for (;;) {
    ::WaitForSingleObject(m_hEventShutdown.get(), INFINITE);
    if (m_bStopping) return;
    DWORD wait;
    do {
      m_bActivity = false;
      wait = ::WaitForSingleObject(m_hEventShutdown.get(), kIdleTimeoutMs);
      if (m_bStopping) return;
    } while (wait == WAIT_OBJECT_0);
    if (!m_bActivity && m_nLockCnt == 0) break;
  }
  // The event stays open until Term: a release that comes after this point
  // still signals a valid handle.
  ::PostThreadMessageW(m_dwMainThreadID, WM_QUIT, 0, 0);
}

void CKeyDbWrapperModule::Term() noexcept {
  // Normally the monitor has left already (it ended the loop); when the
  // loop ended otherwise, it is told to leave without posting.
  m_bStopping = true;
  if (m_hEventShutdown) ::SetEvent(m_hEventShutdown.get());
  if (m_hMonitor) ::WaitForSingleObject(m_hMonitor.get(), INFINITE);
  m_hMonitor.reset();
  m_hEventShutdown.reset();
  m_pInvokeInfo.reset();
  m_pTypeInfo.reset();
}

HRESULT CKeyDbWrapperModule::LoadTypeInfo() noexcept {
  if (m_pTypeInfo && m_pInvokeInfo) return S_OK;
  wchar_t module[MAX_PATH] = {};
  if (!hkb::ModuleFileName(nullptr, module)) return TYPE_E_CANTLOADLIBRARY;
  hkb::ComPtr<ITypeLib> lib;
  HRESULT hr = ::LoadTypeLibEx(module, REGKIND_NONE, lib.put());
  if (FAILED(hr)) return hr;
  hkb::ComPtr<ITypeInfo> info;
  hr = lib->GetTypeInfoOfGuid(IID_IkeyDbObj, info.put());
  if (FAILED(hr)) return hr;
  // A dual interface's description is its dispatch view; the vtable view
  // that DispInvoke calls through is the one it refers to at index -1.
  hkb::ComPtr<ITypeInfo> invoke = info;
  TYPEATTR* attr = nullptr;
  hr = info->GetTypeAttr(&attr);
  if (FAILED(hr)) return hr;
  const bool dispatch_view = attr->typekind == TKIND_DISPATCH;
  info->ReleaseTypeAttr(attr);
  if (dispatch_view) {
    HREFTYPE ref = 0;
    hr = info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref);
    if (SUCCEEDED(hr)) hr = info->GetRefTypeInfo(ref, invoke.put());
    if (FAILED(hr)) return hr;
  }
  m_pTypeInfo = info;
  m_pInvokeInfo = invoke;
  return S_OK;
}

HRESULT CKeyDbWrapperModule::GetTypeInfo(ITypeInfo** out) noexcept {
  *out = nullptr;
  const HRESULT hr = LoadTypeInfo();
  if (FAILED(hr)) return hr;
  *out = hkb::ComPtr<ITypeInfo>(m_pTypeInfo).detach();
  return S_OK;
}

HRESULT CKeyDbWrapperModule::GetInvokeInfo(ITypeInfo** out) noexcept {
  *out = nullptr;
  const HRESULT hr = LoadTypeInfo();
  if (FAILED(hr)) return hr;
  *out = hkb::ComPtr<ITypeInfo>(m_pInvokeInfo).detach();
  return S_OK;
}
