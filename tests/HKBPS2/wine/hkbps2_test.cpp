// HKBPS2.dll under Wine, as the button service uses it: reports queued in
// the filter driver stand-in and the messages that reach the host window;
// polling, its pauses and the device's life in one process.
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "ps2_fixture.h"

using hkbtest::KeyExists;
using hkbtest::MessagesFrom;
using hkbtest::ScopedRegKey;
using namespace ps2test;

namespace {

// ---------------------------------------------------------------------------
// Report sequences and the messages they post.

struct Scenario {
  const char* name;
  std::vector<Report> reports;
  std::vector<Msg> expected;
};

void PrintTo(const Scenario& c, std::ostream* os) { *os << c.name; }

const Scenario kScenarios[] = {
    {"KeyCodesAndRepeats",
     {Kind1(30), Kind1(30), Kind1(0), Kind1(30), Kind1(0), Kind1(117), Kind1(0), Kind1(84), Kind1(0),
      Kind1(121), Kind1(0), Kind1(0)},
     {{kKey, 30, 1}, {kKey, 30, 1}, {kButton, 117, 1}, {kButton, 84, 1}, {kButton, 121, 1}, {kKey, 0, 1}}},
    {"Codes135To141",
     {Kind1(137), Kind1(137), Kind1(137), Kind1(0), Kind1(141), Kind1(141), Kind1(128), Kind1(200, 3)},
     {{kCode135, 137, 1},
      {kButton, 137, 1},
      {kCode135, 137, 1},
      {kCode135, 137, 1},
      {kCode141, 141, 1},
      {kButton, 141, 1},
      {kCode141, 141, 1},
      {kButton, 200, 1}}},
    {"Kind5Repeats",
     {Kind5(40), Kind5(40, 41), Kind5(41), Kind5(0), Kind5(41)},
     {{kButton, 40, 1}, {kButton, 41, 1}, {kButton, 41, 1}}},
    {"Kind2BitButtons",
     {Kind2(4), Kind2(0), Kind2(16), Kind2(0), Kind2(32), Kind2(0), Kind2(64), Kind2(0), Kind2(3), Kind2(0),
      Kind2(1), Kind2(0), Kind2(2), Kind2(0)},
     {{kBit, 4, 1},
      {kBit, 16, 1},
      {kBit, 16, 0},
      {kBit, 32, 1},
      {kBit, 32, 0},
      {kBit, 64, 1},
      {kBit, 1, 1},
      {kBit, 2, 1}}},
    {"Kind4BitButtons",
     {Kind4(8), Kind4(0), Kind4(1), Kind4(0), Kind4(16), Kind4(0), Kind4(2), Kind4(0), Kind4(4), Kind4(0)},
     {{kBit, 134, 1},
      {kBit, 136, 0},
      {kBit, 131, 1},
      {kBit, 135, 1},
      {kBit, 136, 0},
      {kBit, 132, 1},
      {kBit, 133, 1}}},
    {"UnknownKindsIgnored",
     {KindN(3, 4, 30), KindN(0, 4, 30), KindN(6, 16, 30), KindN(255, 16, 30), Kind1(31)},
     {{kKey, 31, 1}}},
};

class Sequences : public Ps2, public ::testing::WithParamInterface<Scenario> {};

TEST_P(Sequences, PostTheirMessagesInOrder) {
  ASSERT_NO_FATAL_FAILURE(Polling());
  const Scenario& s = GetParam();
  ASSERT_TRUE(driver.Queue(s.reports));
  EXPECT_EQ(MessagesAfterQueueDrained(), s.expected);
  // One report per read: the stand-in handed out exactly the queued ones.
  EXPECT_EQ(driver.Stats().delivered, s.reports.size());
}

INSTANTIATE_TEST_SUITE_P(Decoding, Sequences, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

// Long presses of bits 1 and 2: the press posts nothing, the long-press
// message comes no sooner than 1000 ms after the read, and the release after
// it is (0, 0).
TEST_F(Ps2, LongPressesAfterOneSecondThenZeroRelease) {
  ASSERT_NO_FATAL_FAILURE(Polling());
  struct Case {
    uint8_t bit;
    WPARAM longWParam;
  };
  for (const Case& c : {Case{1, 129}, Case{2, 130}}) {
    SCOPED_TRACE(c.bit);
    const size_t base = Messages().size();
    const ULONGLONG queued = ::GetTickCount64();
    ASSERT_TRUE(driver.Queue({Kind2(c.bit)}));
    ASSERT_EQ(WaitForMessages(base + 1).size(), base + 1) << "no long press";
    EXPECT_GE(::GetTickCount64() - queued, 1000u);
    ASSERT_TRUE(driver.Queue({Kind2(0)}));
    EXPECT_EQ(MessagesFrom(MessagesAfterQueueDrained(), base),
              (std::vector<Msg>{{kBit, c.longWParam, 1}, {kBit, 0, 0}}));
  }
}

// A release within the second kills the timer: the short press only, and
// nothing when the second has passed.
TEST_F(Ps2, ShortPressKillsTheLongPressTimer) {
  ASSERT_NO_FATAL_FAILURE(Polling());
  ASSERT_TRUE(driver.Queue({Kind2(1), Kind2(1), Kind2(0)}));
  ASSERT_TRUE(hkbtest::PumpUntil([&] { return driver.Stats().delivered >= 1; }, kPatience));
  const ULONGLONG pressRead = ::GetTickCount64();
  EXPECT_EQ(MessagesAfterQueueDrained(), (std::vector<Msg>{{kBit, 1, 1}}));
  // Once the second is over, a timer still armed would have fired before the
  // tick of any poll timer armed after that moment: two more reads.
  hkbtest::PumpUntil([&] { return ::GetTickCount64() - pressRead >= 1000; }, kPatience);
  ASSERT_TRUE(WaitForReads(2));
  EXPECT_EQ(Messages(), (std::vector<Msg>{{kBit, 1, 1}}));
}

// Stale reports are drained at start, at most 32 of them, 50 ms apart, and
// are not decoded.
TEST_F(Ps2, StartDrainsAtMost32StaleReports) {
  ASSERT_NO_FATAL_FAILURE(Load());
  ASSERT_EQ(open(), 1);
  std::vector<Report> stale;
  for (uint8_t code = 1; code <= 40; ++code) stale.push_back(Kind5(code));
  ASSERT_TRUE(driver.Queue(stale));
  const ULONGLONG t0 = ::GetTickCount64();
  ASSERT_EQ(start(host.hwnd(), 0), 1);
  const ULONGLONG took = ::GetTickCount64() - t0;
  EXPECT_EQ(driver.Stats().delivered, 32u);
  EXPECT_GE(took, 32u * 50u - 20u) << "50 ms between drained reads";
  std::vector<Msg> expected;
  for (WPARAM code = 33; code <= 40; ++code) expected.push_back({kButton, code, 1});
  EXPECT_EQ(MessagesAfterQueueDrained(), expected);
}

// ---------------------------------------------------------------------------
// The device and polling in one process.

TEST_F(Ps2, HiddenWindowHasItsClassTitleOwnerAndStyle) {
  ASSERT_NO_FATAL_FAILURE(Load());
  const HWND hidden = Hidden();
  ASSERT_NE(hidden, nullptr);
  EXPECT_EQ(::GetWindow(hidden, GW_OWNER), host.hwnd());
  EXPECT_EQ(static_cast<DWORD>(::GetWindowLongPtrW(hidden, GWL_STYLE)) & ~WS_CLIPSIBLINGS, 0x08CF0000u);
  EXPECT_FALSE(::IsWindowVisible(hidden));
  EXPECT_EQ(::GetClassLongPtrW(hidden, GCL_STYLE), static_cast<ULONG_PTR>(CS_HREDRAW | CS_VREDRAW));
  EXPECT_EQ(::GetClassLongPtrW(hidden, GCLP_HBRBACKGROUND), static_cast<ULONG_PTR>(COLOR_BTNSHADOW + 1));
  EXPECT_EQ(reinterpret_cast<HMODULE>(::GetClassLongPtrW(hidden, GCLP_HMODULE)), lib->get());
  DWORD pid = 0;
  const DWORD tid = ::GetWindowThreadProcessId(hidden, &pid);
  EXPECT_EQ(pid, ::GetCurrentProcessId());
  EXPECT_NE(tid, ::GetCurrentThreadId()) << "the window belongs to the library's own thread";
  EXPECT_TRUE(hkbtest::SaveScreenshot(L"hkbps2_hidden_window.bmp"));
}

// Without the service's window the worker searches four times, 100 ms apart,
// and then creates its window without owner.
TEST(Ps2WithoutService, HiddenWindowHasNoOwner) {
  ASSERT_EQ(::FindWindowW(L"ZEVHKBCLASS", nullptr), nullptr);
  hkbtest::RecordingWindow other(L"SomeOtherClass",
                                 L"not the service");  // messages of this thread get pumped
  const ULONGLONG t0 = ::GetTickCount64();
  hkbtest::Library lib(DllPath());
  ASSERT_TRUE(lib);
  HWND hidden = nullptr;
  ASSERT_TRUE(hkbtest::PumpUntil(
      [&] { return (hidden = ::FindWindowW(kHiddenClass, kHiddenTitle)) != nullptr; }, kPatience));
  EXPECT_GE(::GetTickCount64() - t0, 290u) << "four searches, 100 ms apart";
  EXPECT_EQ(::GetWindow(hidden, GW_OWNER), nullptr);
}

TEST_F(Ps2, StartBeforeOpenStoresTheHostAndCreatesTheMutex) {
  ASSERT_NO_FATAL_FAILURE(Load());
  const HWND hidden = Hidden();
  ASSERT_NE(hidden, nullptr);
  EXPECT_EQ(::OpenMutexW(SYNCHRONIZE, FALSE, kMutexName), nullptr);
  EXPECT_EQ(start(host.hwnd(), 0), 0);
  hkb::UniqueHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, kMutexName));
  EXPECT_TRUE(mutex) << "the mutex exists after the failed start";
  EXPECT_EQ(driver.Stats().opens, 0u);
  EXPECT_EQ(ReadsAfterSync(hidden), 0u) << "nothing polls";
  // The stored host receives the timer-5 message (posted while the sent
  // message is handled); other timer ids post nothing.
  ::SendMessageW(hidden, WM_TIMER, 6, 0);
  ::SendMessageW(hidden, WM_TIMER, 5, 0);
  EXPECT_EQ(Messages(), (std::vector<Msg>{{kTimer5, 1, 0}}));
}

TEST_F(Ps2, StopBeforeOpenDoesNothingAndASecondOpenReplacesTheHandle) {
  ASSERT_NO_FATAL_FAILURE(Load());
  stop();
  EXPECT_EQ(open(), 1);
  EXPECT_EQ(open(), 1);
  EXPECT_EQ(driver.Stats().opens, 2u) << "the device is opened again";
  EXPECT_EQ(HandlesSettledAt(ownHandles + 1), ownHandles + 1) << "the previous handle is closed";
  ASSERT_EQ(start(host.hwnd(), 0), 1);
  ASSERT_TRUE(driver.Queue({Kind5(9)}));
  EXPECT_EQ(MessagesAfterQueueDrained(), (std::vector<Msg>{{kButton, 9, 1}}));
  stop();
  EXPECT_EQ(ReadsAfterSync(Hidden()), 0u) << "stopped";
}

TEST_F(Ps2, RepeatedOpenStartAndStopLeakNoHandlesOrMemory) {
  ASSERT_NO_FATAL_FAILURE(Load());
  ASSERT_EQ(open(), 1);
  ASSERT_EQ(start(host.hwnd(), 0), 1);
  stop();
  // Wine reports 0 for the process handle count and the private bytes, so
  // the checks look elsewhere: busy blocks of the process heap, and the open
  // handle slots.
  const hkbtest::HeapUse heapBefore = hkbtest::ProcessHeapUse();
  const DWORD handlesBefore = hkbtest::OpenHandlesProbed();
  constexpr int kCalls = 3000;
  for (int i = 0; i < kCalls; ++i) ASSERT_EQ(open(), 1);
  constexpr int kCycles = 300;
  for (int i = 0; i < kCycles; ++i) {
    ASSERT_EQ(start(host.hwnd(), 0), 1);
    stop();
  }
  const hkbtest::HeapUse heapAfter = hkbtest::ProcessHeapUse();
  const DWORD handlesAfter = hkbtest::OpenHandlesProbed();
  EXPECT_EQ(HandlesSettledAt(ownHandles + 1), ownHandles + 1);
  EXPECT_LE(heapAfter.blocks, heapBefore.blocks + 10) << "a kept block per call would add 3000 blocks";
  EXPECT_LE(handlesAfter, handlesBefore + 4) << "a kept handle per call would add 3000 handles";
  std::printf("open x%d, start/stop x%d: heap blocks %zu -> %zu (%zu -> %zu bytes), handles %lu -> %lu\n",
              kCalls, kCycles, heapBefore.blocks, heapAfter.blocks, heapBefore.bytes, heapAfter.bytes,
              handlesBefore, handlesAfter);
}

// Session notifications sent to the hidden window pause and resume polling;
// with the key "Software\ZEV\KBDBL" polling goes on while the session is locked.
struct SessionStep {
  WPARAM event;
  bool pollingAfter;
};
struct SessionCase {
  const char* name;
  bool kbdbl;
  std::vector<SessionStep> steps;
};

void PrintTo(const SessionCase& c, std::ostream* os) { *os << c.name; }

const SessionCase kSessionCases[] = {
    {"WithoutKbdbl",
     false,
     {{WTS_SESSION_LOCK, false},
      {WTS_SESSION_UNLOCK, true},
      {WTS_CONSOLE_DISCONNECT, false},
      {WTS_CONSOLE_CONNECT, true},
      {WTS_SESSION_LOCK, false},
      {WTS_REMOTE_CONNECT, false},  // other events re-evaluate: still locked
      {WTS_SESSION_UNLOCK, true}}},
    {"WithKbdbl",
     true,
     {{WTS_SESSION_LOCK, true},
      {WTS_CONSOLE_DISCONNECT, false},
      {WTS_CONSOLE_CONNECT, false},  // locked: only the unlock re-arms
      {WTS_SESSION_UNLOCK, true},
      {WTS_CONSOLE_DISCONNECT, false},
      {WTS_CONSOLE_CONNECT, true}}},
};

class Sessions : public Ps2, public ::testing::WithParamInterface<SessionCase> {};

TEST_P(Sessions, PauseAndResumePolling) {
  const SessionCase& c = GetParam();
  ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kKbdblKey)) << "prefix has a leftover KBDBL key";
  std::unique_ptr<ScopedRegKey> key;
  if (c.kbdbl) {
    key = std::make_unique<ScopedRegKey>(HKEY_LOCAL_MACHINE, kKbdblKey);
    ASSERT_TRUE(key->ok());
  }
  ASSERT_NO_FATAL_FAILURE(Polling());
  const HWND hidden = Hidden();
  ASSERT_NE(hidden, nullptr);
  ASSERT_TRUE(WaitForReads(3)) << "polling at start";
  uint8_t code = 1;
  for (const SessionStep& step : c.steps) {
    SCOPED_TRACE(testing::Message() << "event " << step.event);
    ::SendMessageW(hidden, WM_WTSSESSION_CHANGE, step.event, 0);
    if (step.pollingAfter) {
      EXPECT_TRUE(WaitForReads(3));
      const size_t base = Messages().size();
      ASSERT_TRUE(driver.Queue({Kind5(code)}));
      EXPECT_EQ(MessagesFrom(MessagesAfterQueueDrained(), base), (std::vector<Msg>{{kButton, code, 1}}));
      ++code;
    } else {
      EXPECT_EQ(ReadsAfterSync(hidden), 0u);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Lifecycle, Sessions, ::testing::ValuesIn(kSessionCases),
                         [](const auto& info) { return std::string(info.param.name); });

// WM_CLOSE from any sender closes the device but keeps the window; reads
// then fail, Stop does nothing, and a new open brings the reports back.
TEST_F(Ps2, CloseFromAnySenderClosesTheDeviceUntilOpenedAgain) {
  ASSERT_NO_FATAL_FAILURE(Polling());
  const HWND hidden = Hidden();
  ::SendMessageW(hidden, WM_CLOSE, 0, 0);
  EXPECT_TRUE(::IsWindow(hidden));
  EXPECT_EQ(HandlesSettledAt(ownHandles), ownHandles);
  EXPECT_EQ(ReadsAfterSync(hidden), 0u) << "reads no longer reach the device";
  stop();  // does nothing: the timer keeps ticking
  ASSERT_TRUE(driver.Queue({Kind5(21)}));
  ASSERT_EQ(open(), 1);
  EXPECT_EQ(MessagesAfterQueueDrained(), (std::vector<Msg>{{kButton, 21, 1}}));
}

TEST_F(Ps2, UnlockDrainsAndRearmsEvenAfterStop) {
  ASSERT_NO_FATAL_FAILURE(Polling());
  const HWND hidden = Hidden();
  stop();
  ASSERT_EQ(ReadsAfterSync(hidden), 0u);
  ASSERT_TRUE(driver.Queue({Kind5(1), Kind5(2), Kind5(3)}));
  ::SendMessageW(hidden, WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK, 0);
  EXPECT_EQ(driver.Stats().delivered, 3u) << "stale reports drained";
  EXPECT_TRUE(WaitForReads(3)) << "polling again";
  EXPECT_TRUE(Messages().empty());
}

TEST_F(Ps2, SuspendWhileStartedRestartsAtResumeWhileStoppedDoesNot) {
  ASSERT_NO_FATAL_FAILURE(Polling());
  const HWND hidden = Hidden();
  ::SendMessageW(hidden, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
  EXPECT_EQ(ReadsAfterSync(hidden), 0u) << "suspended";
  ASSERT_TRUE(driver.Queue({Kind5(1)}));
  ::SendMessageW(hidden, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
  EXPECT_EQ(driver.Stats().delivered, 1u) << "the restart drains";
  EXPECT_TRUE(WaitForReads(3)) << "polling after resume";
  ASSERT_TRUE(driver.Queue({Kind5(2)}));
  EXPECT_EQ(MessagesAfterQueueDrained(), (std::vector<Msg>{{kButton, 2, 1}})) << "to the stored host";

  stop();
  ::SendMessageW(hidden, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
  ::SendMessageW(hidden, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
  EXPECT_EQ(ReadsAfterSync(hidden), 0u) << "no restart when stopped";
  // A resume without a suspend before it does nothing either.
  ::SendMessageW(hidden, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
  EXPECT_EQ(ReadsAfterSync(hidden), 0u);
}

// A long press in progress when polling stops is still reported when its
// timer fires; nothing is read after the stop.
TEST_F(Ps2, StopDuringALongPressStillReportsIt) {
  ASSERT_NO_FATAL_FAILURE(Polling());
  const HWND hidden = Hidden();
  const ULONGLONG queued = ::GetTickCount64();
  ASSERT_TRUE(driver.Queue({Kind2(1)}));
  ASSERT_TRUE(hkbtest::PumpUntil([&] { return driver.Stats().delivered == 1; }, kPatience));
  stop();
  SyncWithWorker(hidden);
  ASSERT_TRUE(driver.Queue({Kind2(0)}));  // the release is never read
  EXPECT_EQ(WaitForMessages(1), (std::vector<Msg>{{kBit, 129, 1}}));
  EXPECT_GE(::GetTickCount64() - queued, 1000u);
  EXPECT_EQ(ReadsAfterSync(hidden), 0u);
  EXPECT_EQ(driver.Stats().pending, 1u);
}

// No device to open: OpenDevice gives 0, and Start then gives 0 too, after
// storing its arguments and making the mutex; nothing is read. Once the
// device is there, both work.
TEST_F(Ps2, OpenWithoutADeviceGivesZeroAndStartToo) {
  ASSERT_TRUE(driver.HideDevice(true));
  ASSERT_EQ(::CreateFileW(L"\\\\.\\HKBLEDFILTR", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE)
      << "the device can still be opened by name";
  ASSERT_NO_FATAL_FAILURE(Load());
  const HWND hidden = Hidden();
  EXPECT_EQ(open(), 0);
  EXPECT_EQ(start(host.hwnd(), 0), 0);
  hkb::UniqueHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, kMutexName));
  EXPECT_TRUE(mutex);
  stop();
  EXPECT_EQ(ReadsAfterSync(hidden), 0u);
  EXPECT_EQ(driver.Stats().opens, 0u);

  ASSERT_TRUE(driver.HideDevice(false));
  EXPECT_EQ(open(), 1);
  EXPECT_EQ(start(host.hwnd(), 0), 1);
  ASSERT_TRUE(driver.Queue({Kind5(5)}));
  EXPECT_EQ(MessagesAfterQueueDrained(), (std::vector<Msg>{{kButton, 5, 1}}));
}

}  // namespace
