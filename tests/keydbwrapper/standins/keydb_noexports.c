/* A KeyDb.dll that loads but has none of the four exports. */
#include <windows.h>

__declspec(dllexport) int KeyDbStandinVersion(void) { return 1; }
