// The DllMain of a library that links the framework: the application object
// starts when the library is loaded and ends before it is unloaded. Kept in a
// file of its own so that only libraries pull it from the archive.
#include "hkb/framework.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH: return hkb::framework::ProcessAttach(instance);
    case DLL_PROCESS_DETACH: hkb::framework::ProcessDetach(); break;
    default: break;
  }
  return TRUE;
}
