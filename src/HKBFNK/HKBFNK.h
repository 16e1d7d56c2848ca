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

// Moves the panel brightness one level up (2) or down (3) the panel's level
// list; the 1-based position of the level set, 0 on failure or another code.
int HKBFNK_SetCurrentBright(int direction);
// Brings the panel to the active power scheme's display brightness for the
// current power source; 1 when it has it (already or now), else 0.
int HKBFNK_MatchMonitorBrightness(void);
// The active display topology: 1 internal, 2 clone, 4 extend, 8 external; 0 on failure.
int HKBFNK_QueryDisplayConfig(void);
// Turns the screen a quarter turn to the right; 1 when the new rotation was applied.
int HKBFNK_RightRotate(void);

typedef int (*PFN_HKBFNK_INFORM)(void);
typedef int (*PFN_HKBFNK_SETCURRENTBRIGHT)(int);

#ifdef __cplusplus
}
#endif
