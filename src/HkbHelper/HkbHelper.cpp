// HkbHelper: the app catalogue and launch library. Loading it does no work of
// its own; the module-wide objects start empty and the exported functions
// start and stop what they need.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
