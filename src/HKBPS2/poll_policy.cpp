#include "poll_policy.h"

namespace hkbps2 {

namespace {

PollAction PauseCheck(const PollState& state, bool kbdbl) {
  return kbdbl && state.consoleConnected ? PollAction::kNone : PollAction::kPause;
}

PollAction Evaluate(const PollState& state, bool kbdbl) {
  return state.sessionUnlocked && state.consoleConnected ? PollAction::kResume : PauseCheck(state, kbdbl);
}

}  // namespace

bool MayPoll(const PollState& state, bool kbdbl) {
  return state.consoleConnected && (kbdbl || state.sessionUnlocked);
}

PollAction OnSessionChange(PollState& state, uint32_t event, bool kbdbl) {
  switch (event) {
    case kConsoleConnect: state.consoleConnected = true; break;
    case kConsoleDisconnect: state.consoleConnected = false; break;
    case kSessionLock: state.sessionUnlocked = false; return PauseCheck(state, kbdbl);
    case kSessionUnlock: state.sessionUnlocked = true; break;
    default: break;
  }
  return Evaluate(state, kbdbl);
}

PollAction OnPowerChange(PollState& state, uint32_t event) {
  if (event == kPowerSuspend && state.started) {
    state.resumePending = true;
    return PollAction::kStop;
  }
  if (event == kPowerResumeSuspend && state.resumePending) {
    state.resumePending = false;  // whatever the restart then returns
    return PollAction::kRestart;
  }
  return PollAction::kNone;
}

}  // namespace hkbps2
