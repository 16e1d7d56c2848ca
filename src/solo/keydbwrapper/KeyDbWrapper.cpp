// KeyDbWrapper.exe: a 32-bit COM local server through which 64-bit callers
// reach the 32-bit button database library KeyDb.dll.
//
// Started with "RegServer" or "UnregServer" after "-" or "/" at the very end
// of its command line it registers or unregisters itself and exits with the
// result; started any other way (COM adds "-Embedding") it serves keyDbObj
// on its main thread until it has been idle for 5 seconds.
#include <windows.h>

#include <string_view>

#include "hkb/module.h"
#include "keyDbObj.h"
#include "keydb_logic.h"
#include "registrar.h"
#include "resource.h"
#include "server_module.h"

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
