// When the worker polls the button device: the decisions about sessions,
// power events and poll ticks, as plain logic. The window side keeps the
// state (under its lock), passes the events in and carries out the answer.
#pragma once

#include <cstdint>

namespace hkbps2 {

// Session-change events (wParam of WM_WTSSESSION_CHANGE) that change a flag.
constexpr uint32_t kConsoleConnect = 1;
constexpr uint32_t kConsoleDisconnect = 2;
constexpr uint32_t kSessionLock = 7;
constexpr uint32_t kSessionUnlock = 8;
// Power events (wParam of WM_POWERBROADCAST) that are acted on.
constexpr uint32_t kPowerSuspend = 4;
constexpr uint32_t kPowerResumeSuspend = 7;

// The per-process flags behind the decisions.
struct PollState {
  bool sessionUnlocked = true;
  bool consoleConnected = true;
  bool started = false;        // HKBPS2_Start armed polling, HKBPS2_Stop has not stopped it since
  bool resumePending = false;  // a suspend stopped a started library
};

// What the window side does next.
enum class PollAction {
  kNone,     // leave polling as it is
  kResume,   // unless the poll timer is armed: with the device open, drain stale reports and arm it
  kPause,    // kill the poll timer
  kStop,     // HKBPS2_Stop
  kRestart,  // HKBPS2_Start with the stored host window and value
};

// Whether a poll tick reads the device and arms the next tick: the console
// is connected, and the session is unlocked or the KBDBL key exists.
bool MayPoll(const PollState& state, bool kbdbl);

// A session-change event: the flag it changes, then resume when the session
// is unlocked and the console connected; otherwise pause, except that with
// the KBDBL key and the console connected polling goes on while locked. A
// lock is checked for the pause only.
PollAction OnSessionChange(PollState& state, uint32_t event, bool kbdbl);

// A power event: a suspend stops a started library and remembers to restart
// it; the resume after it restarts it. Other events change nothing.
PollAction OnPowerChange(PollState& state, uint32_t event);

}  // namespace hkbps2
