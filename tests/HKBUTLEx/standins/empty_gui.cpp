// The baselines of the start-up benchmark: a Windows GUI program that does
// nothing and ends (it imports no more than the runtime needs). With "/com" it
// only enters and leaves a single-threaded COM apartment, the least that any
// activation costs; ole32 is then bound at run time, so that the plain run
// does not load it.
#include <windows.h>
#include <objbase.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
  if (!commandLine || !std::wcsstr(commandLine, L"/com")) return 0;
  const HMODULE ole32 = ::LoadLibraryW(L"ole32.dll");
  if (!ole32) return 1;
  using Init = HRESULT(WINAPI*)(LPVOID);
  using Uninit = void(WINAPI*)();
  const auto init = reinterpret_cast<Init>(reinterpret_cast<void*>(::GetProcAddress(ole32, "CoInitialize")));
  const auto uninit =
      reinterpret_cast<Uninit>(reinterpret_cast<void*>(::GetProcAddress(ole32, "CoUninitialize")));
  if (init && uninit && SUCCEEDED(init(nullptr))) uninit();
  ::FreeLibrary(ole32);
  return 0;
}
