/* ZEVOSD.dll: flashes a short text on the screen.
 *
 * The caller fills one request record and passes it to OnScreen_Display (wide
 * text) or OnScreen_DisplayA (ANSI text in the system code page). The library
 * shows a borderless, top-most window shaped like the text, filled with
 * crColor, at one of nine positions, and removes it after nDuration
 * milliseconds. The window belongs to the calling thread, whose message loop
 * must run for the display to go on time. At most one display exists: every
 * accepted request first removes the one that is showing.
 *
 * The record and the text are copied during the call. Both functions return 1
 * when the display is up and 0 when the request is refused or fails.
 *
 * Layout: natural alignment of a 64-bit build (checked below).
 */
#ifndef ZEVOSD_H
#define ZEVOSD_H

#include <stddef.h>
#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Screen positions (nPosition). */
enum {
  OSD_POS_TOP_LEFT = 0,
  OSD_POS_TOP_CENTER = 1,
  OSD_POS_TOP_RIGHT = 2,
  OSD_POS_MIDDLE_LEFT = 3,
  OSD_POS_CENTER = 4,
  OSD_POS_MIDDLE_RIGHT = 5,
  OSD_POS_BOTTOM_LEFT = 6,
  OSD_POS_BOTTOM_CENTER = 7,
  OSD_POS_BOTTOM_RIGHT = 8
};

typedef struct tagOSD_REQUEST {
  DWORD cbSize;     /* 152; not checked */
  DWORD dwVersion;  /* must be 0 */
  DWORD dwKind;     /* carried along, not used by the text display */
  COLORREF crColor; /* colour of the text */
  UINT nPosition;   /* 0 to 8 */
  UINT nDuration;   /* milliseconds the display stays up */
  UINT nHeightDiv;  /* display height = work-area height / nHeightDiv; not 0 */
  UINT nWidthDiv;   /* initial width = work-area width / nWidthDiv; 0 means 30 */
  LOGFONTW lf;      /* font of the text; lfHeight is ignored */
  LPCWSTR pszText;  /* zero-terminated text; NULL is an empty text */
  UINT nBarMax;     /* level-bar fields: not read by the text display */
  UINT nBarValue;
  UINT nBarSteps;
  UINT nBarGap;
} OSD_REQUEST;

typedef struct tagOSD_REQUESTA {
  DWORD cbSize; /* not read */
  DWORD dwVersion;
  DWORD dwKind;
  COLORREF crColor;
  UINT nPosition;
  UINT nDuration;
  UINT nHeightDiv;
  UINT nWidthDiv;
  LOGFONTA lf;    /* lfFaceName: 1 to 31 characters and a terminator */
  LPCSTR pszText; /* zero-terminated, not empty */
} OSD_REQUESTA;

int OnScreen_Display(const OSD_REQUEST* request);
int OnScreen_DisplayA(const OSD_REQUESTA* request);

typedef int (*PFN_OnScreen_Display)(const OSD_REQUEST* request);
typedef int (*PFN_OnScreen_DisplayA)(const OSD_REQUESTA* request);

#ifdef __cplusplus
}
#endif

#if defined(_WIN64)
#ifdef __cplusplus
#define ZEVOSD_ASSERT(e, m) static_assert(e, m)
#else
#define ZEVOSD_ASSERT(e, m) _Static_assert(e, m)
#endif
ZEVOSD_ASSERT(offsetof(OSD_REQUEST, cbSize) == 0, "cbSize");
ZEVOSD_ASSERT(offsetof(OSD_REQUEST, dwVersion) == 4, "dwVersion");
ZEVOSD_ASSERT(offsetof(OSD_REQUEST, dwKind) == 8, "dwKind");
ZEVOSD_ASSERT(offsetof(OSD_REQUEST, crColor) == 12, "crColor");
ZEVOSD_ASSERT(offsetof(OSD_REQUEST, nPosition) == 16, "nPosition");
ZEVOSD_ASSERT(offsetof(OSD_REQUEST, nDuration) == 20, "nDuration");
ZEVOSD_ASSERT(offsetof(OSD_REQUEST, nHeightDiv) == 24, "nHeightDiv");
ZEVOSD_ASSERT(offsetof(OSD_REQUEST, nWidthDiv) == 28, "nWidthDiv");
ZEVOSD_ASSERT(offsetof(OSD_REQUEST, lf) == 32, "lf");
ZEVOSD_ASSERT(sizeof(LOGFONTW) == 92, "LOGFONTW");
ZEVOSD_ASSERT(offsetof(OSD_REQUEST, pszText) == 128, "pszText");
ZEVOSD_ASSERT(offsetof(OSD_REQUEST, nBarMax) == 136, "nBarMax");
ZEVOSD_ASSERT(offsetof(OSD_REQUEST, nBarValue) == 140, "nBarValue");
ZEVOSD_ASSERT(offsetof(OSD_REQUEST, nBarSteps) == 144, "nBarSteps");
ZEVOSD_ASSERT(offsetof(OSD_REQUEST, nBarGap) == 148, "nBarGap");
ZEVOSD_ASSERT(sizeof(OSD_REQUEST) == 152, "OSD_REQUEST size");

ZEVOSD_ASSERT(offsetof(OSD_REQUESTA, cbSize) == 0, "cbSize");
ZEVOSD_ASSERT(offsetof(OSD_REQUESTA, dwVersion) == 4, "dwVersion");
ZEVOSD_ASSERT(offsetof(OSD_REQUESTA, dwKind) == 8, "dwKind");
ZEVOSD_ASSERT(offsetof(OSD_REQUESTA, crColor) == 12, "crColor");
ZEVOSD_ASSERT(offsetof(OSD_REQUESTA, nPosition) == 16, "nPosition");
ZEVOSD_ASSERT(offsetof(OSD_REQUESTA, nDuration) == 20, "nDuration");
ZEVOSD_ASSERT(offsetof(OSD_REQUESTA, nHeightDiv) == 24, "nHeightDiv");
ZEVOSD_ASSERT(offsetof(OSD_REQUESTA, nWidthDiv) == 28, "nWidthDiv");
ZEVOSD_ASSERT(offsetof(OSD_REQUESTA, lf) == 32, "lf");
ZEVOSD_ASSERT(offsetof(OSD_REQUESTA, lf.lfFaceName) == 60, "lfFaceName");
ZEVOSD_ASSERT(sizeof(LOGFONTA) == 60, "LOGFONTA");
ZEVOSD_ASSERT(offsetof(OSD_REQUESTA, pszText) == 96, "pszText");
ZEVOSD_ASSERT(sizeof(OSD_REQUESTA) == 104, "OSD_REQUESTA size");
#undef ZEVOSD_ASSERT
#endif /* _WIN64 */

#endif /* ZEVOSD_H */
