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

#include <optional>
#include <string>

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

// The clipboard as the search uses it. Each operation opens it for itself and
// gives another program that holds it open about a second to close it.
class CHkbhClipboard {
 public:
  // Puts the text on the clipboard as CF_UNICODETEXT, replacing what it held;
  // `replaced` (when given) receives the CF_UNICODETEXT it held before, if
  // any. E_FAIL when the clipboard could not be opened or the text not set.
  static HRESULT SetClipboardData(const wchar_t* text, std::optional<std::wstring>* replaced = nullptr);
  // True when the clipboard's CF_UNICODETEXT is exactly `text`.
  static bool HoldsText(const wchar_t* text);
  // When the clipboard still holds `own` (the search's text), puts `earlier`
  // back in its place, or leaves the clipboard empty when there was none.
  // Whatever another program put there in the meantime is left alone.
  // Allocates nothing from the C++ runtime (it may run during unwinding).
  static void PutBack(const wchar_t* own, const std::optional<std::wstring>& earlier);
};
