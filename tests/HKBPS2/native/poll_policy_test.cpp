// When polling runs: session events with and without the KBDBL key, power
// events, and the poll tick's own check, as sequences of events from the
// flags' start values.
#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "poll_policy.h"

namespace hkbps2 {

// Found by the checks' messages (argument-dependent lookup).
std::ostream& operator<<(std::ostream& os, PollAction a);
std::ostream& operator<<(std::ostream& os, PollAction a) {
  switch (a) {
    case PollAction::kNone: return os << "none";
    case PollAction::kResume: return os << "resume";
    case PollAction::kPause: return os << "pause";
    case PollAction::kStop: return os << "stop";
    case PollAction::kRestart: return os << "restart";
  }
  return os << "?";
}

namespace {

constexpr uint32_t kRemoteConnect = 3;  // an event that changes no flag

struct SessionStep {
  uint32_t event;
  PollAction action;
  bool mayPoll;  // a poll tick after the event reads the device
};

struct SessionCase {
  const char* name;
  bool kbdbl;
  std::vector<SessionStep> steps;
};

const SessionCase kSessionCases[] = {
    {"lock and unlock without the key",
     false,
     {{kSessionLock, PollAction::kPause, false}, {kSessionUnlock, PollAction::kResume, true}}},
    {"lock with the key goes on polling",
     true,
     {{kSessionLock, PollAction::kNone, true}, {kSessionUnlock, PollAction::kResume, true}}},
    {"disconnect pauses, with or without the key",
     true,
     {{kConsoleDisconnect, PollAction::kPause, false}, {kConsoleConnect, PollAction::kResume, true}}},
    {"disconnect without the key",
     false,
     {{kConsoleDisconnect, PollAction::kPause, false}, {kConsoleConnect, PollAction::kResume, true}}},
    {"locked and disconnected: only both undone resume",
     false,
     {{kSessionLock, PollAction::kPause, false},
      {kConsoleDisconnect, PollAction::kPause, false},
      {kConsoleConnect, PollAction::kPause, false},
      {kConsoleDisconnect, PollAction::kPause, false},
      {kSessionUnlock, PollAction::kPause, false},
      {kConsoleConnect, PollAction::kResume, true}}},
    {"locked with the key: a reconnect keeps polling but does not resume",
     true,
     {{kSessionLock, PollAction::kNone, true},
      {kConsoleDisconnect, PollAction::kPause, false},
      {kConsoleConnect, PollAction::kNone, true},
      {kSessionUnlock, PollAction::kResume, true}}},
    {"other events evaluate the flags as they are",
     false,
     {{kRemoteConnect, PollAction::kResume, true},
      {kSessionLock, PollAction::kPause, false},
      {kRemoteConnect, PollAction::kPause, false},
      {kSessionUnlock, PollAction::kResume, true}}},
    {"other events while locked with the key",
     true,
     {{kSessionLock, PollAction::kNone, true}, {kRemoteConnect, PollAction::kNone, true}}},
    {"a second unlock resumes again (the window side skips an armed timer)",
     false,
     {{kSessionUnlock, PollAction::kResume, true}, {kSessionUnlock, PollAction::kResume, true}}},
};

TEST(PollPolicy, SessionEvents) {
  for (const SessionCase& c : kSessionCases) {
    SCOPED_TRACE(c.name);
    PollState state;
    EXPECT_TRUE(MayPoll(state, c.kbdbl)) << "a fresh process polls";
    int n = 0;
    for (const SessionStep& step : c.steps) {
      SCOPED_TRACE(testing::Message() << "step " << n++ << ", event " << step.event);
      EXPECT_EQ(OnSessionChange(state, step.event, c.kbdbl), step.action);
      EXPECT_EQ(MayPoll(state, c.kbdbl), step.mayPoll);
    }
  }
}

TEST(PollPolicy, SessionEventsLeaveThePowerFlagsAlone) {
  PollState state;
  state.started = true;
  state.resumePending = true;
  for (uint32_t event : {kSessionLock, kConsoleDisconnect, kSessionUnlock, kConsoleConnect}) {
    OnSessionChange(state, event, false);
  }
  EXPECT_TRUE(state.started);
  EXPECT_TRUE(state.resumePending);
}

TEST(PollPolicy, PollTickNeedsAConnectedConsoleAndAnUnlockedSessionOrTheKey) {
  struct Case {
    bool unlocked, connected, kbdbl, mayPoll;
  } const cases[] = {
      {true, true, false, true},   {true, true, true, true},     {false, true, false, false},
      {false, true, true, true},   {true, false, false, false},  {true, false, true, false},
      {false, false, true, false}, {false, false, false, false},
  };
  for (const Case& c : cases) {
    PollState state;
    state.sessionUnlocked = c.unlocked;
    state.consoleConnected = c.connected;
    EXPECT_EQ(MayPoll(state, c.kbdbl), c.mayPoll)
        << "unlocked " << c.unlocked << ", connected " << c.connected << ", key " << c.kbdbl;
  }
}

struct PowerStep {
  uint32_t event;
  bool startedBefore;  // what HKBPS2_Start / HKBPS2_Stop left
  PollAction action;
  bool resumePendingAfter;
};

struct PowerCase {
  const char* name;
  std::vector<PowerStep> steps;
};

constexpr uint32_t kPowerStatusChange = 10;

const PowerCase kPowerCases[] = {
    {"suspend while started restarts at resume",
     {{kPowerSuspend, true, PollAction::kStop, true},
      {kPowerResumeSuspend, false, PollAction::kRestart, false}}},
    {"suspend while stopped: no restart",
     {{kPowerSuspend, false, PollAction::kNone, false},
      {kPowerResumeSuspend, false, PollAction::kNone, false}}},
    {"a resume without a suspend does nothing", {{kPowerResumeSuspend, true, PollAction::kNone, false}}},
    {"one restart per suspend",
     {{kPowerSuspend, true, PollAction::kStop, true},
      {kPowerResumeSuspend, false, PollAction::kRestart, false},
      {kPowerResumeSuspend, true, PollAction::kNone, false}}},
    {"a second suspend before the resume",
     {{kPowerSuspend, true, PollAction::kStop, true},
      {kPowerSuspend, false, PollAction::kNone, true},
      {kPowerResumeSuspend, false, PollAction::kRestart, false}}},
    {"other power events change nothing",
     {{kPowerStatusChange, true, PollAction::kNone, false},
      {kPowerSuspend, true, PollAction::kStop, true},
      {kPowerStatusChange, false, PollAction::kNone, true},
      {kPowerResumeSuspend, false, PollAction::kRestart, false}}},
};

TEST(PollPolicy, PowerEvents) {
  for (const PowerCase& c : kPowerCases) {
    SCOPED_TRACE(c.name);
    PollState state;
    int n = 0;
    for (const PowerStep& step : c.steps) {
      SCOPED_TRACE(testing::Message() << "step " << n++ << ", event " << step.event);
      state.started = step.startedBefore;
      EXPECT_EQ(OnPowerChange(state, step.event), step.action);
      EXPECT_EQ(state.resumePending, step.resumePendingAfter);
    }
  }
}

}  // namespace
}  // namespace hkbps2
