// Exports of HKBFNK.dll, for callers that bind them by name.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Posts 0x813E to the external-display switcher; 1 when its window exists, else 0.
int HKBFNK_Inform_FNF3_Push(void);
// Posts 0x53D to the ECO utility ("PwrTuner"); 1 when its window exists, else 0.
int HKBFNK_Inform_ECO_Push(void);
// Starts "<Program Files>\ZEVHKB\RadioToggle.exe"; the ShellExecuteExW result,
// 0 when the program file is missing.
int HKBFNK_Inform_AirPlane_Push(void);

typedef int (*PFN_HKBFNK_INFORM)(void);

#ifdef __cplusplus
}
#endif
