// Exports of HKBPS2.dll, for callers that bind them by name.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Allocates a fresh report buffer and opens the button device of this Windows
// release. 1 on success, 0 when the device could not be opened.
int HKBPS2_OpenDevice(void);
// Stores the window that receives the button events and the host value, then
// drains stale reports and arms the 100 ms poll timer. 1 when polling is armed.
int HKBPS2_Start(HWND host, DWORD value);
// Stops polling (the device stays open).
void HKBPS2_Stop(void);

typedef int (*PFN_HKBPS2_OPENDEVICE)(void);
typedef int (*PFN_HKBPS2_START)(HWND, DWORD);
typedef void (*PFN_HKBPS2_STOP)(void);

#ifdef __cplusplus
}
#endif
