// The platform side of the search launch: what the primary monitor shows
// (through the app-visibility service), bringing up the Start screen and the
// app search pane, the simulated key presses, and the clipboard.
//
// Threads: the app-visibility interface is apartment-threaded; it is created
// by Initialize on the thread that initializes the library, and the search
// launch runs on that thread. Key presses and the clipboard belong to no
// thread; the caller issues one launch at a time.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include "hkb/com.h"

class CHkbhMonitorMode {
 public:
  CHkbhMonitorMode() = default;
  virtual ~CHkbhMonitorMode();
  CHkbhMonitorMode(const CHkbhMonitorMode&) = delete;
  CHkbhMonitorMode& operator=(const CHkbhMonitorMode&) = delete;

  // Initializes COM (single-threaded apartment) on the calling thread and
  // creates the app-visibility service. On failure COM is left as it was.
  static HRESULT Initialize();
  // Releases the service and uninitializes COM once.
  static void Finalize();

  // 0 with the screen state in `mode`; -1 without `mode` or without the
  // service; -2 when the service fails.
  static int GetMonitorState(int* mode);
  // Shows the Start screen (Windows key) unless it shows already; the result
  // of the first state query.
  static int SwitchToStartScreen();
  // Brings up the Start screen and the app search pane; E_FAIL when the
  // screen state cannot be read or the Start screen cannot be asked for.
  static HRESULT OpenAppSearchUI();
  // 1 when the foreground window is of the class "SearchPane".
  static int IsSearchPaneForeground();

  // The app-visibility service; empty until Initialize succeeds and again
  // after Finalize.
  static hkb::ComPtr<IAppVisibility> m_pImmersiveMode;
};

class CHkbhKeyEmulate {
 public:
  // One key event with the calling thread's message extra information.
  static void Sendinput_Key(WORD virtualKey, WORD scanCode, DWORD flags);
  // The Windows key alone.
  static void Sendinput_Win();
  // Windows key + Q: the app search.
  static void SendInput_Win_Q();
  static void SendInput_Enter();
  // Shift + Insert: paste. Shift stays down; the caller releases it.
  static void SendInput_Shift_Insert();
};

class CHkbhClipboard {
 public:
  // Puts the text on the clipboard as CF_UNICODETEXT, replacing what it held.
  static HRESULT SetClipboardData(const wchar_t* text);
};
