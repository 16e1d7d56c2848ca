// KeyDbWrapper.exe: a 32-bit COM local server through which 64-bit callers
// reach the 32-bit button database library KeyDb.dll.
//
// Started with "RegServer" or "UnregServer" after "-" or "/" at the very end
// of its command line it registers or unregisters itself and exits with the
// result; started any other way (COM adds "-Embedding") it serves keyDbObj
// on its main thread until it has been idle for 5 seconds.
#include "KeyDbWrapper.h"

#include <string_view>

#include "hkb/module.h"
#include "keyDbObj.h"
#include "keydb_logic.h"
#include "registrar.h"
#include "resource.h"

CKeyDbWrapperModule s_Module;

namespace {

CkeyDbObjFactory s_Factory;

HRESULT RegisterServer() noexcept {
  keydb::UpdateRegistryFromResource(IDR_KEYDBWRAPPER, true);
  HRESULT hr = keydb::UpdateRegistryFromResource(IDR_KEYDBOBJ, true);
  if (SUCCEEDED(hr)) hr = keydb::RegisterTypeLibrary();
  return hr;
}

HRESULT UnregisterServer() noexcept {
  keydb::UpdateRegistryFromResource(IDR_KEYDBWRAPPER, false);
  HRESULT hr = keydb::UpdateRegistryFromResource(IDR_KEYDBOBJ, false);
  if (SUCCEEDED(hr)) hr = keydb::UnregisterTypeLibrary();
  return hr;
}

int RunServer() noexcept {
  s_Module.StartMonitor(::GetCurrentThreadId());
  DWORD cookie = 0;
  const HRESULT registered =
      ::CoRegisterClassObject(CLSID_keyDbObj, &s_Factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
  // Without a registered class object no client can come, and so no last
  // release that would end the run: leave at once instead of waiting forever.
  if (SUCCEEDED(registered)) {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
    ::CoRevokeClassObject(cookie);
    ::Sleep(CKeyDbWrapperModule::kGraceMs);
  }
  s_Module.Term();
  return SUCCEEDED(registered) ? 0 : static_cast<int>(registered);
}

}  // namespace

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

namespace {

// KeyDb.dll is loaded by its bare name, so the copy beside this program is
// found first. The current folder, which the caller chooses and where anyone
// may have put a KeyDb.dll, is taken out of the search: the folder set here
// takes its place in the search order (this program's own folder again; an
// empty one where that is unknown). Wine leaves the current folder in the
// search for an empty folder, so the own folder is what is set.
void TakeCurrentFolderOutOfTheSearch() noexcept {
  wchar_t path[MAX_PATH] = {};
  hkb::CutToFolder(path, hkb::ModuleFileName(nullptr, path));
  ::SetDllDirectoryW(path);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  TakeCurrentFolderOutOfTheSearch();

  hkb::ComInit com(COINIT_APARTMENTTHREADED);
  const wchar_t* line = ::GetCommandLineW();
  const std::u16string_view command_line(reinterpret_cast<const char16_t*>(line), line ? wcslen(line) : 0);
  switch (keydb::FindRegistrationSwitch(command_line)) {
    case keydb::Switch::kUnregServer: return static_cast<int>(UnregisterServer());
    case keydb::Switch::kRegServer: return static_cast<int>(RegisterServer());
    case keydb::Switch::kNone: break;
  }
  return RunServer();
}
